#include "framework/dialog.h"

CDialog::CDialog(UINT template_id, CWnd* /*parent: the program's dialog has none*/)
    : template_id_(template_id) {}

CDialog::~CDialog() = default;

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK_COMMAND); }

void CDialog::OnCancel() { EndDialog(IDCANCEL_COMMAND); }

void CDialog::OnSysCommand(UINT /*id*/, long /*param*/) { Default(); }

void CDialog::OnPaint() { Default(); }

IconHandle CDialog::OnQueryDragIcon() { return nullptr; }

void CDialog::OnActivate(UINT /*state*/, CWnd* /*other*/, BOOL /*minimized*/) { Default(); }

void CDialog::Default() { default_requested_ = true; }
