// CLogFile: the append-only trace log file.
#ifndef BRINDLEX_LOG_LOG_FILE_H_
#define BRINDLEX_LOG_LOG_FILE_H_

#include <cstdio>
#include <ctime>
#include <string>

class CLogFile {
 public:
  // Calls Open(name, mode) and ignores its result.
  CLogFile(const char* name, const char* mode);
  virtual ~CLogFile();  // closes the stream, if any
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // Opens `name` with `mode`, or "a+" (append, created when missing, text
  // mode) when `mode` is null. Returns 0 for a missing or empty name and when
  // the object was opened before; else 1, whether or not the file opened.
  // When it did not, the object holds no stream.
  int Open(const char* name, const char* mode);

  // Writes `text` unchanged and flushes. Returns 0 when there is no stream.
  int Write(const char* text);

  // Writes the date banner of the current local time. Returns 1.
  int WriteBanner();

 private:
  FILE* stream_ = nullptr;
  char* name_ = nullptr;
};

// The banner for `when` in local time: an empty line, then
// "[***** Today is Friday, November/02/2001 @ 00:15:10. *****]" and a line end.
std::string FormatBanner(std::time_t when);

// The message buffer holds 1023 bytes and a terminating zero.
constexpr size_t kTraceMessageCapacity = 1024;

// Copies `message` into `buffer`. A message longer than 1023 bytes is cut to
// fit; when it ended its line, the cut message ends its line too.
void CutTraceMessage(const std::string& message, char (&buffer)[kTraceMessageCapacity]);

#endif  // BRINDLEX_LOG_LOG_FILE_H_
