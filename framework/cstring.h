// CString: the framework's byte string (ANSI code page, zero-terminated).
#ifndef BRINDLEX_FRAMEWORK_CSTRING_H_
#define BRINDLEX_FRAMEWORK_CSTRING_H_

#include <string>

#include "framework/win_types.h"

class CString {
 public:
  CString() = default;
  CString(const char* text) : text_(text ? text : "") {}  // NOLINT: implicit as in the framework
  CString(const std::string& text) : text_(text) {}       // NOLINT

  operator const char*() const { return text_.c_str(); }  // NOLINT
  const char* c_str() const { return text_.c_str(); }
  const std::string& str() const { return text_; }

  friend CString operator+(const CString& a, const char* b) { return CString(a.text_ + b); }

 private:
  std::string text_;
};

// Fixed text number `id` of the string table, or the empty string.
CString LoadFixedText(UINT id);

#endif  // BRINDLEX_FRAMEWORK_CSTRING_H_
