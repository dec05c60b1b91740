#include "log/open_log.h"

std::FILE* OpenLogStream(const char* name, const char* mode) { return std::fopen(name, mode); }
