#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/main_dlg.h"

namespace {
std::string FormatTrace(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string message(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(&message[0], message.size(), format, args);
  message.resize(static_cast<size_t>(length));
  return message;
}
}  // namespace

void CMainDlg::WriteLog(const char* format, ...) {
  if (m_LogMode == FALSE) return;
  va_list args;
  va_start(args, format);
  std::string message = FormatTrace(format, args);
  va_end(args);
  char buffer[kTraceMessageCapacity];
  CutTraceMessage(message, buffer);
  if (m_pLogFile) (void)m_pLogFile->Write(buffer);
}
