// Feeds arbitrary argument texts to the command-line parser and writes its
// trace through the log's formatting, as a run with logging on would.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/main_dlg.h"
#include "tests/doubles/null_services.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));  // an argument text ends at its first zero byte
  NullServices services;
  CMainDlg dlg(services.services());
  dlg.m_pCmdLine = &text[0];
  CStringList startup;
  dlg.ParseCmdLine(&startup);
  dlg.m_LogMode = TRUE;
  dlg.m_pLogFile.reset(new CLogFile("/dev/null", "w"));
  for (const CString& entry : startup) dlg.WriteLog("%s", entry.c_str());
  dlg.WriteLog("m_InfFileName == %s \n", dlg.m_InfFileName.c_str());
  return 0;
}
