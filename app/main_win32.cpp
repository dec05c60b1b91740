// The Windows program: the argument text is the process's command line
// without the program's name; the registry and the profile files are the
// system's own.
#include <windows.h>

#include <cstring>
#include <vector>

#include "app/command_line.h"
#include "app/main_app.h"
#include "inf/system_setup_files.h"
#include "registry/system_registry.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*command_tail*/,
                   int /*show*/) {
  // The runtime's ready-made tail is not used: the rule for what follows the
  // program's name is ours (see SkipProgramName).
  const char* arguments = SkipProgramName(GetCommandLineA());
  std::vector<char> argument_text(arguments, arguments + std::strlen(arguments) + 1);

  std::unique_ptr<Registry> registry = MakeSystemRegistry();
  std::unique_ptr<SetupFiles> setup_files = MakeSystemSetupFiles();
  CMainApp app(Services{*registry, *setup_files}, argument_text.data());
  return app.Run();
}
