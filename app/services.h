// The platform services a run works on. The entry point of each build
// passes the system's; tests pass doubles.
#ifndef BRINDLEX_APP_SERVICES_H_
#define BRINDLEX_APP_SERVICES_H_

class Registry;
class SetupFiles;

struct Services {
  Registry& registry;
  SetupFiles& setup_files;
};

#endif  // BRINDLEX_APP_SERVICES_H_
