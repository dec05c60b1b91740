#include "framework/win_app.h"

namespace {
CWinApp* the_app = nullptr;

constexpr char kUsage[] =
    "Brindlex [-p:FILE | -p] [-l:FILE | -l] [-s]\n"
    "\n"
    "-p:FILE  read the product and patch keys from the setup information FILE\n"
    "-p       the same with the file OLMSETUP.INF\n"
    "-l:FILE  append a trace of the run to the log FILE\n"
    "-l       the same with the file Brindlex.log\n"
    "-s       keep the window open after the run\n";
}  // namespace

CWinApp::CWinApp() { the_app = this; }

CWinApp::~CWinApp() {
  if (the_app == this) the_app = nullptr;
}

CWinApp* AfxGetApp() { return the_app; }

void CWinApp::OnHelp() { AfxShowUsage(kUsage); }

BOOL CWinApp::OnCommand(UINT id) {
  if (id != ID_HELP) return FALSE;
  OnHelp();
  return TRUE;
}

int CWinApp::Run() {
  // The program's outcome is reported by its log alone, never by the exit status.
  (void)InitInstance();
  return 0;
}
