// Services for tests that must not reach any registry or file: every key is
// missing and no setup information file exists. Counts the calls made.
#ifndef BRINDLEX_TESTS_SUPPORT_NULL_SERVICES_H_
#define BRINDLEX_TESTS_SUPPORT_NULL_SERVICES_H_

#include "app/services.h"
#include "inf/setup_files.h"
#include "registry/registry.h"

class NullRegistry : public Registry {
 public:
  RegStatus OpenKey(RegKey, const char*, RegKey*) override { return Count(kRegFileNotFound); }
  RegStatus EnumKey(RegKey, uint32_t, char*, uint32_t*) override {
    return Count(kRegInvalidHandle);
  }
  RegStatus DeleteKey(RegKey, const char*) override { return Count(kRegFileNotFound); }
  RegStatus CloseKey(RegKey) override { return Count(kRegInvalidHandle); }
  RegStatus Flush() override { return flush_status; }

  int calls = 0;
  RegStatus flush_status = kRegSuccess;  // what Flush returns

 private:
  RegStatus Count(RegStatus status) {
    ++calls;
    return status;
  }
};

class NullSetupFiles : public SetupFiles {
 public:
  int Access(const char*) override { return Count(-1); }
  uint32_t GetFullPathName(const char*, uint32_t, char*) override { return Count(0); }
  uint32_t GetPrivateProfileString(const char*, const char*, const char*, char* buffer,
                                   uint32_t size, const char*) override {
    if (size > 0) buffer[0] = '\0';
    return Count(0);
  }

  int calls = 0;

 private:
  int Count(int result) {
    ++calls;
    return result;
  }
};

struct NullServices {
  NullRegistry registry;
  NullSetupFiles setup_files;
  Services services() { return Services{registry, setup_files}; }
};

#endif  // BRINDLEX_TESTS_SUPPORT_NULL_SERVICES_H_
