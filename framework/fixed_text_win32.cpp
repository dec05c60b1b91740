#include <windows.h>

#include "framework/cstring.h"

CString LoadFixedText(UINT id) {
  // A string-table entry holds at most 4097 characters; ours are short.
  char buffer[512] = {};
  int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return CString(std::string(buffer, length > 0 ? length : 0));
}
