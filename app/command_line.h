// How the program's argument text is obtained on each platform.
#ifndef BRINDLEX_APP_COMMAND_LINE_H_
#define BRINDLEX_APP_COMMAND_LINE_H_

#include <string>

// The argument text of a full Windows command line: what follows the
// program's name (which may be enclosed in double quotes) and the blanks and
// control characters after it. Returns a pointer into `command_line`.
const char* SkipProgramName(const char* command_line);

// The argument text of a POSIX program: its arguments joined by single spaces.
std::string JoinArguments(int argc, const char* const* argv);

#endif  // BRINDLEX_APP_COMMAND_LINE_H_
