#include <algorithm>
#include <string>

#include "app/main_dlg.h"
#include "inf/setup_files.h"

namespace {
constexpr uint32_t kValueCapacity = 255;     // a value holds at most 254 bytes
constexpr uint32_t kFullPathCapacity = 260;  // the platform's path limit, terminator included
constexpr int kPatchKeyCount = 10;
}  // namespace

int CMainDlg::ReadINF() {
  WriteLog("CALLING: ReadINF()\n");
  SetupFiles& files = services_.setup_files;
  char full_path[kFullPathCapacity] = {};
  int result = 0;
  if (files.Access(m_InfFileName) == -1) {
    WriteLog("\tERROR: File does not Exist --> %s\n", m_InfFileName.c_str());
  } else if (uint32_t length = files.GetFullPathName(m_InfFileName, kFullPathCapacity, full_path);
             length == 0 || length >= kFullPathCapacity) {
    // A path that does not fit the buffer would leave it empty or stale:
    // reading from it could read another file, so the run stops here.
    WriteLog("\tERROR: Full path too long --> %s\n", m_InfFileName.c_str());
  } else {
    WriteLog("\t%s == %s\n", m_InfFileName.c_str(), full_path);
    result = ReadKeys(full_path);
  }
  WriteLog("LEAVING: ReadINF()\n");
  return result;
}

int CMainDlg::ReadKeys(const char* full_path) {
  SetupFiles& files = services_.setup_files;
  const CString section = LoadFixedText(IDS_UPGRADE);
  const CString product_key = LoadFixedText(IDS_PRODUCTKEY);
  char value[kValueCapacity] = {};
  files.GetPrivateProfileString(section, product_key, "", value, kValueCapacity, full_path);
  WriteLog("\tSection == %s \n", section.c_str());
  if (value[0] == '\0') {
    WriteLog("\tERROR: No Product Key\n");
    return 0;
  }
  m_pStringList->AddHead(value);
  WriteLog("\t%s == %s Adding to Head of StringList\n", product_key.c_str(), value);
  for (int n = 1; n <= kPatchKeyCount; ++n) {
    std::fill(value, value + kValueCapacity, '\0');
    const CString key = LoadFixedText(IDS_PATCHKEY) + std::to_string(n).c_str();
    files.GetPrivateProfileString(section, key, "", value, kValueCapacity, full_path);
    if (value[0] == '\0') continue;  // a missing patch key is no error
    m_pStringList->AddTail(value);
    WriteLog("\t%s ==  %s Adding to Tail of StringList\n", key.c_str(), value);
  }
  return 1;
}
