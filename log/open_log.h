// Opening the trace log's file, the platform's way.
#ifndef BRINDLEX_LOG_OPEN_LOG_H_
#define BRINDLEX_LOG_OPEN_LOG_H_

#include <cstdio>

// fopen(name, mode); on POSIX null also when `name` is the registry's file,
// which the log must never write into (on Windows the system keeps it
// closed to programs).
std::FILE* OpenLogStream(const char* name, const char* mode);

#endif  // BRINDLEX_LOG_OPEN_LOG_H_
