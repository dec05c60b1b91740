// The dialog on POSIX: the terminal stands in for the window. The window
// "appears" once initialisation is done; it is activated at once, and if it
// is still open then, it waits on standard input: Enter presses the default
// button, end of input closes the window.
#include <cstdio>

#include "framework/dialog.h"
#include "framework/win_app.h"

namespace {

enum class UserAction { kPressDefaultButton, kClose, kHelp };

UserAction WaitForUser() {
  std::fprintf(stderr,
               "Brindlex: the run is finished. Press Enter to exit "
               "(? and Enter for help).\n");
  char line[256];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return UserAction::kClose;
  if (line[0] == '?') return UserAction::kHelp;
  return UserAction::kPressDefaultButton;
}

}  // namespace

struct CDialog::Impl {
  bool ended = false;  // EndDialog was called; the first result stands
  int end_result = 0;
};

class DialogDispatch {
 public:
  static int Run(CDialog* dialog);

 private:
  static void WaitUntilEnded(CDialog* dialog);
};

int DialogDispatch::Run(CDialog* dialog) {
  (void)dialog->OnInitDialog();  // no focus to give
  if (!dialog->impl_->ended) dialog->OnActivate(ACTIVATE_ACTIVE, nullptr, FALSE);
  WaitUntilEnded(dialog);
  return dialog->impl_->end_result;
}

void DialogDispatch::WaitUntilEnded(CDialog* dialog) {
  while (!dialog->impl_->ended) {
    switch (WaitForUser()) {
      case UserAction::kPressDefaultButton:
        dialog->OnOK();
        break;
      case UserAction::kClose:
        dialog->OnCancel();
        break;
      case UserAction::kHelp:
        if (CWinApp* app = AfxGetApp()) app->OnCommand(ID_HELP);
        break;
    }
  }
}

// The terminal needs no template: the dialog's look is its run's output.
CDialog::CDialog(UINT /*template_id*/, CWnd* /*parent: the program's dialog has none*/)
    : impl_(std::make_unique<Impl>()) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() { return DialogDispatch::Run(this); }

void CDialog::EndDialog(int result) {
  if (impl_->ended) return;
  impl_->ended = true;
  impl_->end_result = result;
}

// A terminal has no default processing to ask for.
void CDialog::Default() {}

IconHandle CDialog::LoadAppIcon(UINT /*id*/) const { return nullptr; }

void CDialog::SetIcon(IconHandle /*icon*/, BOOL /*big*/) {}

BOOL CDialog::IsIconic() const { return FALSE; }

// A terminal is never minimised, so nothing is ever painted.
struct CPaintDC::Impl {};
CPaintDC::CPaintDC(CWnd* /*window*/) {}
CPaintDC::~CPaintDC() = default;
void CPaintDC::EraseIconBackground() {}
void CPaintDC::GetIconSize(int* width, int* height) const { *width = *height = 0; }
void CPaintDC::GetClientSize(int* width, int* height) const { *width = *height = 0; }
void CPaintDC::DrawIcon(int /*x*/, int /*y*/, IconHandle /*icon*/) {}

void AfxShowUsage(const char* text) { std::fputs(text, stderr); }
