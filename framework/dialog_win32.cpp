// The dialog on Windows: a modal dialog box made from the template in the
// program's resources, whose messages are dispatched to CDialog's handlers.
#include <windows.h>

#include "framework/dialog.h"
#include "framework/win_app.h"

struct CDialog::Impl {
  explicit Impl(UINT template_id) : template_id(template_id) {}
  UINT template_id;
  bool default_requested = false;  // the handler asked for default processing
  bool initialised = false;        // OnInitDialog has run
};

class DialogDispatch {
 public:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Runs the dialog's initialisation without a window, for when none could
  // be created (no desktop to show it on): the job is done all the same.
  static void InitialiseWithoutWindow(CDialog* dialog) { (void)dialog->OnInitDialog(); }
  static bool Initialised(const CDialog* dialog) { return dialog->impl_->initialised; }

 private:
  static INT_PTR Dispatch(CDialog* dialog, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR OnInitDialog(HWND window, LPARAM lparam);
  static void OnCommand(CDialog* dialog, UINT id);
};

INT_PTR CALLBACK DialogDispatch::Procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  if (message == WM_INITDIALOG) return OnInitDialog(window, lparam);
  auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  dialog->impl_->default_requested = false;
  return Dispatch(dialog, message, wparam, lparam);
}

INT_PTR DialogDispatch::OnInitDialog(HWND window, LPARAM lparam) {
  auto* dialog = reinterpret_cast<CDialog*>(lparam);
  SetWindowLongPtrA(window, DWLP_USER, lparam);
  dialog->m_hWnd = window;
  dialog->impl_->initialised = true;
  return dialog->OnInitDialog();
}

// Returns TRUE when the handler dealt with the message itself, FALSE when the
// dialog manager's default processing should follow.
INT_PTR DialogDispatch::Dispatch(CDialog* dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SYSCOMMAND:
      dialog->OnSysCommand(static_cast<UINT>(wparam), static_cast<long>(lparam));
      break;
    case WM_PAINT:
      dialog->OnPaint();
      break;
    case WM_QUERYDRAGICON:
      // One of the messages whose dialog-procedure result is the reply itself.
      return reinterpret_cast<INT_PTR>(dialog->OnQueryDragIcon());
    case WM_ACTIVATE:
      dialog->OnActivate(LOWORD(wparam), nullptr, HIWORD(wparam) != 0);
      break;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wparam));
      return TRUE;
    case WM_HELP:
      OnCommand(dialog, ID_HELP);
      return TRUE;
    default:
      return FALSE;
  }
  return dialog->impl_->default_requested ? FALSE : TRUE;
}

void DialogDispatch::OnCommand(CDialog* dialog, UINT id) {
  if (id == IDOK) {
    dialog->OnOK();
  } else if (id == IDCANCEL) {
    dialog->OnCancel();
  } else if (CWinApp* app = AfxGetApp()) {
    app->OnCommand(id);
  }
}

CDialog::CDialog(UINT template_id, CWnd* /*parent: the program's dialog has none*/)
    : impl_(std::make_unique<Impl>(template_id)) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
  INT_PTR result =
      DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(impl_->template_id), nullptr,
                      DialogDispatch::Procedure, reinterpret_cast<LPARAM>(this));
  if (result == -1 && !DialogDispatch::Initialised(this)) {
    DialogDispatch::InitialiseWithoutWindow(this);
  }
  m_hWnd = nullptr;
  return static_cast<int>(result);
}

void CDialog::Default() { impl_->default_requested = true; }

void CDialog::EndDialog(int result) {
  if (m_hWnd != nullptr) ::EndDialog(static_cast<HWND>(m_hWnd), result);
}

IconHandle CDialog::LoadAppIcon(UINT id) const {
  return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

void CDialog::SetIcon(IconHandle icon, BOOL big) {
  if (m_hWnd == nullptr) return;
  SendMessageA(static_cast<HWND>(m_hWnd), WM_SETICON, big, reinterpret_cast<LPARAM>(icon));
}

BOOL CDialog::IsIconic() const {
  return m_hWnd != nullptr && ::IsIconic(static_cast<HWND>(m_hWnd));
}

struct CPaintDC::Impl {
  explicit Impl(CWnd* window) : window(static_cast<HWND>(window->m_hWnd)) {}
  HWND window;
  PAINTSTRUCT paint{};
  HDC dc = nullptr;
};

CPaintDC::CPaintDC(CWnd* window) : impl_(std::make_unique<Impl>(window)) {
  impl_->dc = BeginPaint(impl_->window, &impl_->paint);
}

CPaintDC::~CPaintDC() { EndPaint(impl_->window, &impl_->paint); }

void CPaintDC::EraseIconBackground() {
  SendMessageA(impl_->window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(impl_->dc), 0);
}

void CPaintDC::GetIconSize(int* width, int* height) const {
  *width = GetSystemMetrics(SM_CXICON);
  *height = GetSystemMetrics(SM_CYICON);
}

void CPaintDC::GetClientSize(int* width, int* height) const {
  RECT client{};
  GetClientRect(impl_->window, &client);
  *width = client.right - client.left;
  *height = client.bottom - client.top;
}

void CPaintDC::DrawIcon(int x, int y, IconHandle icon) {
  ::DrawIcon(impl_->dc, x, y, static_cast<HICON>(icon));
}

void AfxShowUsage(const char* text) {
  CWinApp* app = AfxGetApp();
  HWND owner = nullptr;
  if (app != nullptr && app->m_pMainWnd != nullptr) owner = static_cast<HWND>(app->m_pMainWnd->m_hWnd);
  MessageBoxA(owner, text, "Brindlex", MB_OK | MB_ICONINFORMATION);
}
