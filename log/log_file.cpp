#include "log/log_file.h"

#include <cstdlib>
#include <cstring>

#include "log/open_log.h"

CLogFile::CLogFile(const char* name, const char* mode) {
  (void)Open(name, mode);  // a log that did not open leaves the run without a log
}

CLogFile::~CLogFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  std::free(name_);
}

int CLogFile::Open(const char* name, const char* mode) {
  if (name == nullptr || *name == '\0') return 0;
  if (name_ != nullptr || stream_ != nullptr) return 0;
  name_ = static_cast<char*>(std::malloc(std::strlen(name) + 1));
  std::strcpy(name_, name);
  stream_ = OpenLogStream(name_, mode != nullptr ? mode : "a+");
  return 1;
}

int CLogFile::Write(const char* text) {
  if (stream_ == nullptr) return 0;
  std::fputs(text, stream_);
  std::fflush(stream_);  // write errors are ignored: the log is best effort
  return 1;
}

int CLogFile::WriteBanner() {
  (void)Write(FormatBanner(std::time(nullptr)).c_str());
  return 1;
}

std::string FormatBanner(std::time_t when) {
  // The program never sets a locale, so strftime works in the "C" locale and
  // writes English names on every machine.
  char buffer[1024] = {};
  const std::tm* local = std::localtime(&when);
  if (local == nullptr) return std::string();
  std::strftime(buffer, sizeof buffer, "\n[***** Today is %A, %B/%d/%Y @ %X. *****]\n", local);
  return buffer;
}

void CutTraceMessage(const std::string& message, char (&buffer)[kTraceMessageCapacity]) {
  const size_t room = kTraceMessageCapacity - 1;
  std::memset(buffer, 0, sizeof buffer);
  if (message.size() <= room) {
    std::memcpy(buffer, message.data(), message.size());
    return;
  }
  std::memcpy(buffer, message.data(), room);
  if (message.back() == '\n') buffer[room - 1] = '\n';
}
