// The system's SetupFiles. On Windows: msvcrt's _access and kernel32's
// GetFullPathNameA and GetPrivateProfileStringA. On POSIX: equivalents that
// follow the contracts of inf/setup_files.h as those calls behave, with '/'
// as the path separator. Differences on POSIX: names are case-sensitive,
// trailing dots and spaces are part of a name, and a relative profile path is
// taken from the current directory (Windows looks a bare name up in its own
// directory; the reader always passes a full path).
#ifndef BRINDLEX_INF_SYSTEM_SETUP_FILES_H_
#define BRINDLEX_INF_SYSTEM_SETUP_FILES_H_

#include <memory>

#include "inf/setup_files.h"

// Never returns null.
std::unique_ptr<SetupFiles> MakeSystemSetupFiles();

#endif  // BRINDLEX_INF_SYSTEM_SETUP_FILES_H_
