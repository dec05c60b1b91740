#include "framework/dialog.h"

// The constructor, the destructor, Default() and the window calls are
// defined per platform, in dialog_posix.cpp and dialog_win32.cpp, beside the
// run state they keep.

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK_COMMAND); }

void CDialog::OnCancel() { EndDialog(IDCANCEL_COMMAND); }

void CDialog::OnSysCommand(UINT /*id*/, long /*param*/) { Default(); }

void CDialog::OnPaint() { Default(); }

IconHandle CDialog::OnQueryDragIcon() { return nullptr; }

void CDialog::OnActivate(UINT /*state*/, CWnd* /*other*/, BOOL /*minimized*/) { Default(); }
