// CWnd and CDialog: the framework's window and modal dialog. The platform's
// dialog layer (a dialog box on Windows, the terminal elsewhere) creates the
// window and calls the virtual handlers below.
#ifndef BRINDLEX_FRAMEWORK_DIALOG_H_
#define BRINDLEX_FRAMEWORK_DIALOG_H_

#include <memory>

#include "framework/win_types.h"

// Results of DoModal and command numbers of the dialog's standard buttons.
constexpr int IDOK_COMMAND = 1;
constexpr int IDCANCEL_COMMAND = 2;

// Selectors of SetIcon.
constexpr BOOL ICON_SELECTOR_SMALL = 0;
constexpr BOOL ICON_SELECTOR_BIG = 1;

// The WM_ACTIVATE state of a window being activated.
constexpr UINT ACTIVATE_ACTIVE = 1;

class CWnd {
 public:
  virtual ~CWnd() = default;
  WindowHandle m_hWnd = nullptr;
};

class CDialog : public CWnd {
 public:
  CDialog(UINT template_id, CWnd* parent);
  ~CDialog() override;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the window from the template, runs OnInitDialog, shows the window
  // and returns when it is closed: IDOK_COMMAND or IDCANCEL_COMMAND, or -1
  // when the window could not be created.
  int DoModal();

  // Ends the modal run with `result` once the current message is handled.
  void EndDialog(int result);

 protected:
  // Called once while the window is being created, before it first appears.
  // TRUE lets the framework put the focus on the first control.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange() {}
  virtual void OnOK();      // ends the dialog with IDOK_COMMAND
  virtual void OnCancel();  // ends the dialog with IDCANCEL_COMMAND

  // Window message handlers. Each default asks for the platform's default
  // processing of the message.
  virtual void OnSysCommand(UINT id, long param);
  virtual void OnPaint();
  virtual IconHandle OnQueryDragIcon();
  virtual void OnActivate(UINT state, CWnd* other, BOOL minimized);

  // Asks for the platform's default processing of the message being handled.
  void Default();

  // Loads the application's icon resource `id`; null when there is none.
  IconHandle LoadAppIcon(UINT id) const;
  void SetIcon(IconHandle icon, BOOL big);
  BOOL IsIconic() const;

 private:
  friend class DialogDispatch;  // the platform's message dispatch
  struct Impl;                  // the platform's run state, in its dialog_*.cpp
  std::unique_ptr<Impl> impl_;
};

// Painting the client area of a window (BeginPaint to EndPaint).
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  // Sends WM_ICONERASEBKGND with this device context to the window.
  void EraseIconBackground();
  // The system's icon size (SM_CXICON, SM_CYICON) and the client area's size.
  void GetIconSize(int* width, int* height) const;
  void GetClientSize(int* width, int* height) const;
  void DrawIcon(int x, int y, IconHandle icon);

 private:
  struct Impl;  // the platform's paint state, in its dialog_*.cpp
  std::unique_ptr<Impl> impl_;
};

#endif  // BRINDLEX_FRAMEWORK_DIALOG_H_
