// Starts a Windows program with an exact command line and waits for it.
// A Unix shell cannot pass one through Wine: Wine quotes and joins the
// arguments it is given, so empty arguments, runs of blanks and quotation
// marks would not arrive as written.
// Usage: launch.exe PROGRAM COMMAND_LINE_FILE
// COMMAND_LINE_FILE holds the whole command line (program name included) as
// bytes. Returns the program's exit status, or 255 when it could not start.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: launch PROGRAM COMMAND_LINE_FILE\n");
    return 255;
  }
  std::ifstream file(argv[2], std::ios::binary);
  std::vector<char> command_line((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
  command_line.push_back('\0');

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[1], command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "launch: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 255;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 255;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
