#include <algorithm>
#include <string>

#include "app/main_dlg.h"
#include "inf/setup_files.h"

namespace {
constexpr uint32_t kValueCapacity = 255;     // a value holds at most 254 bytes
constexpr uint32_t kFullPathCapacity = 260;  // the platform's path limit, terminator included
constexpr int kPatchKeyCount = 10;

// Reads the product key and the patch keys from the profile file at
// `full_path` into `keys`, logging each through `dialog`. Returns 1 when
// there is a product key, else 0.
int ReadKeys(CMainDlg& dialog, SetupFiles& files, const char* full_path, CStringList* keys) {
  const CString section = LoadFixedText(IDS_UPGRADE);
  const CString product_key = LoadFixedText(IDS_PRODUCTKEY);
  char value[kValueCapacity] = {};
  files.GetPrivateProfileString(section, product_key, "", value, kValueCapacity, full_path);
  dialog.WriteLog("\tSection == %s \n", section.c_str());
  if (value[0] == '\0') {
    dialog.WriteLog("\tERROR: No Product Key\n");
    return 0;
  }
  keys->AddHead(value);
  dialog.WriteLog("\t%s == %s Adding to Head of StringList\n", product_key.c_str(), value);
  for (int n = 1; n <= kPatchKeyCount; ++n) {
    std::fill(value, value + kValueCapacity, '\0');
    const CString key = LoadFixedText(IDS_PATCHKEY) + std::to_string(n).c_str();
    files.GetPrivateProfileString(section, key, "", value, kValueCapacity, full_path);
    if (value[0] == '\0') continue;  // a missing patch key is no error
    keys->AddTail(value);
    dialog.WriteLog("\t%s ==  %s Adding to Tail of StringList\n", key.c_str(), value);
  }
  return 1;
}

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
    result = ReadKeys(*this, files, full_path, m_pStringList.get());
  }
  WriteLog("LEAVING: ReadINF()\n");
  return result;
}
