#include "framework/cstring.h"
#include "resources/resource.h"

namespace {

struct FixedText {
  UINT id;
  const char* text;
};

#define FIXED_TEXT(id, text) {id, text},
constexpr FixedText kFixedTexts[] = {
#include "resources/strings.def"
};
#undef FIXED_TEXT

}  // namespace

CString LoadFixedText(UINT id) {
  for (const FixedText& entry : kFixedTexts) {
    if (entry.id == id) return CString(entry.text);
  }
  return CString();
}
