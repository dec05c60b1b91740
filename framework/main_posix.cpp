// The POSIX program: the arguments joined by spaces are the argument text;
// the registry is the hive file in the current directory.
#include <string>
#include <vector>

#include "app/main_app.h"
#include "framework/command_line.h"
#include "inf/system_setup_files.h"
#include "registry/hive_registry.h"

int main(int argc, char** argv) {
  const std::string arguments = JoinArguments(argc, argv);
  std::vector<char> argument_text(arguments.begin(), arguments.end());
  argument_text.push_back('\0');  // split in place by the parser

  std::unique_ptr<Registry> registry = MakeHiveRegistry(BRINDLEX_HIVE_FILE);
  std::unique_ptr<SetupFiles> setup_files = MakeSystemSetupFiles();
  CMainApp app(Services{*registry, *setup_files}, argument_text.data());
  return app.Run();
}
