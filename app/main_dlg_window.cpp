// The main window's own message handling.
#include "app/icon_origin.h"
#include "app/main_dlg.h"

void CMainDlg::OnSysCommand(UINT /*id*/, long /*param*/) { Default(); }

void CMainDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  CPaintDC dc(this);
  dc.EraseIconBackground();
  int icon_width = 0, icon_height = 0, client_width = 0, client_height = 0;
  dc.GetIconSize(&icon_width, &icon_height);
  dc.GetClientSize(&client_width, &client_height);
  IconOrigin origin = CentredIconOrigin(client_width, client_height, icon_width, icon_height);
  dc.DrawIcon(origin.x, origin.y, m_hIcon);
}

IconHandle CMainDlg::OnQueryDragIcon() { return m_hIcon; }

void CMainDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  // Silent mode closes the window at every activation message, whether the
  // window is being activated or deactivated.
  if (m_SilentMode == TRUE) OnOK();
}
