// The POSIX program: the arguments joined by spaces are the argument text;
// the registry and the profile files are the POSIX stand-ins of the system's.
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_app.h"
#include "inf/system_setup_files.h"
#include "registry/system_registry.h"

namespace {

constexpr char kTunables[] = "GLIBC_TUNABLES";
constexpr char kLargePages[] = "glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1";

// Starts the program again, once, with the C library asked to back large
// allocations with transparent huge pages. The keys of a large registry
// file take hundreds of megabytes, and libhivex reads a hive into memory
// of its own allocating: on 4 KiB pages those first touches cost more than
// the whole rest of the run. One arena for every thread: the thread that
// builds a large text file's key tree would otherwise allocate from an
// arena of its own, which the setting does not reach (five times the page
// faults). The settings are read only at a program's start.
// Nothing changes when it is already set, for a set-id program (which does
// not honour it) or when the program cannot be started again.
void RestartWithLargePages(char** argv) {
  const char* found = std::getenv(kTunables);
  const bool had_tunables = found != nullptr;
  const std::string tunables = had_tunables ? found : "";
  if (tunables.find("glibc.malloc.hugetlb") != std::string::npos) return;
  if (getauxval(AT_SECURE) != 0) return;
  const std::string value = tunables.empty() ? kLargePages : tunables + ":" + kLargePages;
  if (setenv(kTunables, value.c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Not restarted: go on as started, without the setting.
  if (had_tunables) {
    (void)setenv(kTunables, tunables.c_str(), 1);
  } else {
    (void)unsetenv(kTunables);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RestartWithLargePages(argv);
  const std::string arguments = JoinArguments(argc, argv);
  std::vector<char> argument_text(arguments.begin(), arguments.end());
  argument_text.push_back('\0');  // split in place by the parser

  std::unique_ptr<Registry> registry = MakeSystemRegistry();
  std::unique_ptr<SetupFiles> setup_files = MakeSystemSetupFiles();
  CMainApp app(Services{*registry, *setup_files}, argument_text.data());
  return app.Run();
}
