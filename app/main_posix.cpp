// The POSIX program: the arguments joined by spaces are the argument text;
// the registry and the profile files are the POSIX stand-ins of the system's.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_app.h"
#include "inf/system_setup_files.h"
#include "registry/system_registry.h"

int main(int argc, char** argv) {
  const std::string arguments = JoinArguments(argc, argv);
  std::vector<char> argument_text(arguments.begin(), arguments.end());
  argument_text.push_back('\0');  // split in place by the parser

  std::unique_ptr<Registry> registry = MakeSystemRegistry();
  std::unique_ptr<SetupFiles> setup_files = MakeSystemSetupFiles();
  CMainApp app(Services{*registry, *setup_files}, argument_text.data());
  return app.Run();
}
