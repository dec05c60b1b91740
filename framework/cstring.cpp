#include "framework/cstring.h"

BOOL CString::LoadString(UINT id) {
  *this = LoadFixedText(id);
  return IsEmpty() ? FALSE : TRUE;
}
