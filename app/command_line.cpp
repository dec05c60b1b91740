#include "app/command_line.h"

const char* SkipProgramName(const char* command_line) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(command_line);
  if (*p == '"') {
    // A quoted name runs to the next quotation mark, blanks included.
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != '\0' && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}
