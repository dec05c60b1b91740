#include "app/main_dlg.h"

#include <new>
#include <string>

CMainDlg::CMainDlg(const Services& services, CWnd* parent)
    : CDialog(IDD, parent), services_(services) {
  m_hIcon = LoadAppIcon(IDR_MAINFRAME);
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::DoDataExchange() {}

BOOL CMainDlg::OnInitDialog() {
  BOOL result = RunSequence();
  // The registry's changes are made durable before the window appears.
  const RegStatus saved = services_.registry.Flush();
  if (saved != kRegSuccess) {
    WriteLog("ERROR: Registry not saved, no deletion of this run reached the registry --> %s\n",
             std::to_string(saved).c_str());
  }
  return result;
}

BOOL CMainDlg::RunSequence() {
  CDialog::OnInitDialog();
  SetIcon(m_hIcon, ICON_SELECTOR_BIG);
  SetIcon(m_hIcon, ICON_SELECTOR_SMALL);

  std::unique_ptr<CStringList> startup(new (std::nothrow) CStringList);
  m_pStringList.reset(new (std::nothrow) CStringList);
  if (!startup || !m_pStringList) return TRUE;

  bool parse_failed = false;
  if (ParseCmdLine(startup.get()) == 0) {
    startup->AddTail("ERROR: ParseCmdLine() --> return 0\n");
    parse_failed = true;
  }
  if (m_LogMode == TRUE) {
    m_pLogFile.reset(new (std::nothrow) CLogFile(m_LogFileName, nullptr));
    if (m_pLogFile) m_pLogFile->WriteBanner();
    for (const CString& entry : *startup) WriteLog("%s", entry.c_str());
  }
  startup.reset();
  if (parse_failed) return FALSE;

  WriteSettings();
  if (ReadINF() == 0) {
    WriteLog("ERROR: ReadINF() return 0\n");
    return TRUE;
  }
  if (DelFromReg() == 0) {
    WriteLog("ERROR: DElFromReg() return 0\n");
  } else {
    WriteLog("LEAVING: DelFromReg()\n");
  }
  return TRUE;
}

void CMainDlg::WriteSettings() {
  WriteLog("m_InfFileName == %s \n", m_InfFileName.c_str());
  WriteLog("m_LogFileName == %s \n", m_LogFileName.c_str());
  WriteLog("m_LogMode == %s \n", m_LogMode == TRUE ? "TRUE" : "FALSE");
  WriteLog("m_SilentMode == %s \n", m_SilentMode == TRUE ? "TRUE" : "FALSE");
}
