#include "app/main_app.h"

#include "app/main_dlg.h"

namespace {
// Three-dimensional control drawing is what every Windows since 95 does by
// itself; the call is kept as the first step of the start-up.
void Enable3dControls() {}
}  // namespace

CMainApp::CMainApp(const Services& services, char* argument_text)
    : services_(services), argument_text_(argument_text) {}

BOOL CMainApp::InitInstance() {
  Enable3dControls();
  CMainDlg dlg(services_);
  dlg.m_pCmdLine = argument_text_;
  m_pMainWnd = &dlg;
  (void)dlg.DoModal();  // the outcome is in the log, not in the result
  m_pMainWnd = nullptr;
  return FALSE;
}
