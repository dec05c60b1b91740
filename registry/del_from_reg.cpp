#include <cstring>
#include <string>

#include "app/main_dlg.h"
#include "registry/key_name.h"

namespace {
constexpr uint32_t kSubkeyNameCapacity = 260;  // bytes, terminator included

// Opens the product's registration key and deletes its Patches subkey,
// logging each step through `dialog`. Returns true when Patches was deleted.
bool DeleteProductPatches(CMainDlg& dialog, Registry& registry, const CString& product_key) {
  const CString path = LoadFixedText(IDS_PRODUCTS_PATH) + product_key;
  const CString patches = LoadFixedText(IDS_PATCHES);
  dialog.WriteLog("\tOPENING HKEY_CLASSES_ROOT\\%s\n", path.c_str());
  if (!IsSingleKeyName(product_key)) {
    // Such a value would make the open land on another key than the named one.
    dialog.WriteLog("\tERROR: Product Key is not a single key name, nothing opened --> %s\n",
                    product_key.c_str());
    return false;
  }
  RegKey product = nullptr;
  const RegStatus opened = registry.OpenKey(ClassesRootKey(), path, &product);
  if (opened != kRegSuccess) {
    dialog.WriteLog("\tUnable to OPEN HKEY_CLASSES_ROOT\\%s\n", path.c_str());
    // The registry's own store is bad: not the same as a product that is absent.
    if (opened == kRegBadDb || opened == kRegCantRead) {
      dialog.WriteLog("\tERROR: Registry unavailable --> %s\n", std::to_string(opened).c_str());
    }
    return false;
  }
  const bool deleted = registry.DeleteKey(product, patches) == kRegSuccess;
  dialog.WriteLog(deleted ? "\tSuccessfuly DELETE HKEY_CLASSES_ROOT\\%s\\%s\n"
                          : "\tUnable to DELETE HKEY_CLASSES_ROOT\\%s\\%s\n",
                  path.c_str(), patches.c_str());
  (void)registry.CloseKey(product);
  return deleted;
}

// Deletes every subkey of the open `key` through dialog.DelRegKeyRcu, then
// `path` below `parent`, and closes `key`. Returns 0, or the first failure's
// status code.
RegStatus DeleteOpenedKey(CMainDlg& dialog, Registry& registry, RegKey parent, const char* path,
                          RegKey key) {
  char name[kSubkeyNameCapacity] = {};
  RegStatus result = kRegSuccess;
  for (;;) {
    // Index 0 every time: each pass deletes the subkey found there. The
    // buffer is not cleared between passes, so when no subkey is left the
    // trace repeats the name handled last.
    uint32_t capacity = kSubkeyNameCapacity;
    const RegStatus status = registry.EnumKey(key, 0, name, &capacity);
    dialog.WriteLog("\tENUM Key return --> %s\n", name);
    if (status == kRegNoMoreItems) {
      dialog.WriteLog("\tNo more Keys DELETING --> %s\n", path);
      // Deleted through the parent while its own handle is still open.
      result = registry.DeleteKey(parent, path);
      break;
    }
    if (status != kRegSuccess) {
      result = status;
      break;
    }
    dialog.WriteLog("\tMore Keys DELETING --> %s\n", name);
    result = dialog.DelRegKeyRcu(key, name);
    if (result != kRegSuccess) break;
  }
  (void)registry.CloseKey(key);
  return result;
}

}  // namespace

int CMainDlg::DelFromReg() {
  WriteLog("CALLING: DelFromReg()\n");
  if (m_pStringList->GetCount() == 0) {
    WriteLog("\tERROR: m_pStringList->GetCount() return 0\n");
    return 0;
  }
  if (!DeleteProductPatches(*this, services_.registry, m_pStringList->GetHead())) return 0;
  m_pStringList->RemoveHead();

  for (const CString& patch_key : *m_pStringList) {
    if (!IsSingleKeyName(patch_key)) {
      // A recursive delete there could remove every patch's registration.
      WriteLog("\tERROR: Patch Key is not a single key name, skipped --> %s\n", patch_key.c_str());
      continue;
    }
    const CString patch_path = LoadFixedText(IDS_PATCHES_PATH) + patch_key;
    WriteLog("\tDELETING HKEY_CLASSES_ROOT\\%s recursively\n", patch_path.c_str());
    (void)DelRegKeyRcu(ClassesRootKey(), patch_path);  // each patch is independent
  }
  return 1;
}

RegStatus CMainDlg::DelRegKeyRcu(RegKey parent, const char* path) {
  WriteLog("CALLING: DelRegKeyRcu()\n");
  RegStatus result = kRegBadKey;
  if (path == nullptr || *path == '\0') {
    WriteLog("\tERROR: Invaild Param\n");
  } else {
    WriteLog("\tOPENING Reg Key --> %s\n", path);
    RegKey key = nullptr;
    if (services_.registry.OpenKey(parent, path, &key) == kRegSuccess) {
      result = DeleteOpenedKey(*this, services_.registry, parent, path, key);
    } else {
      WriteLog("\tUnable to OPEN %s\n", path);
    }
  }
  WriteLog("LEAVING: DelRegKeyRcu()\n");
  return result;
}
