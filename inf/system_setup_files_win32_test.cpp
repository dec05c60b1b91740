#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "inf/setup_files_contract_test.h"
#include "inf/system_setup_files.h"
#include "tests/support/scratch_dir.h"
#include "winapi/profile_reader.h"

namespace {

using namespace std::string_literals;

// Names match without regard to case and '\\' separates them.
using SystemAdapter = SystemSetupFilesAdapter<'\\', false>;

INSTANTIATE_TYPED_TEST_SUITE_P(System, SetupFilesContract, SystemAdapter);

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Profile files whose reading the portable reader must reproduce exactly.
const std::vector<std::string>& Corpus() {
  static const std::vector<std::string> corpus = {
      "[upgrade]\r\nproductkey=PROD\r\nPATCHKEY1=P1\r\nPatchKey10=P10\r\n",
      " \t[ Upgrade\t]  \r\n\t K \t=  V W \x1A\v\f\r\nPatchKey1=\xA0X\xA0\r\n",
      "[Upgrade]\rK=A\r\nPatchKey1=B\rC\n\rProductKey=D\r\r\n",
      "[Upgrade]\r\nK=\"ABCDEFGHIJ\"\r\nProductKey='Q'\r\nPatchKey1=\"\"\r\nPatchKey2=\"A\"B\"\r\n",
      "[Upgrade]\r\n;K=X\r\n#ProductKey=Y\r\nPatchKey1=A ; c\r\n;[Upgrade]\r\n",
      "K=TOP\r\n[Upgrade]]\r\nK=1\r\n[Upgrade]x]\r\nK=2\r\n[Upgrade] ;c\r\nK=3\r\n"
      "[Upgrade]\r\nK=4\r\n",
      "[Upgrade]\r\nK\r\nK=2\r\nProductKey=\r\nProductKey=3\r\n[Other\r\nPatchKey1=4\r\n",
      "[]\r\nK=1\r\n[Upgrade]\r\n=E\r\n[ProductKey=5\r\n",
      "[Upgrade]\r\nK=AB\0CD\r\nProductKey\0x=P\r\nPatchKey1=\0Z\r\n"s,
      "\xEF\xBB\xBF[Upgrade]\r\nK=caf\xC3\xA9 \xE4\xB8\xAD \xE2\x80\x93 \xC4\x80\r\n"
      "ProductKey=<\xE9>\r\n"
      "PatchKey1=<\xC0\xAF\xED\xA0\x80\xF0\x9F\x98\x80>\r\nPatchKey2=x\xE4",
      Utf16Le(u"[Upgrade]\r\nK=AB\u00E9\u20AC\u0141\u2260\r\nProductKey=\u3000P\u3000\r\n"),
      Utf16Le(u"[Upgrade]\r\nK=AB\r\n").substr(2),
      "[Upgrade]\r\nK=" + std::string(300, 'v') + "\r\nProductKey=\"" + std::string(254, 'q') +
          "\"\r\n",
      "[Upgrade]\r\nK=\x80\x81\x8D\x9F\xC3\xA9\xFF\r\n",
      "",
  };
  return corpus;
}

TEST(SystemSetupFilesWin32, ProfileReaderMatchesThePlatform) {
  const std::initializer_list<const char*> kFallbacks = {"", "\"D\"  ", nullptr};
  ScratchDir dir;
  std::unique_ptr<SetupFiles> files = MakeSystemSetupFiles();
  int number = 0;
  for (const std::string& file : Corpus()) {
    const std::string name = "case" + std::to_string(++number) + ".ini";
    dir.Write(name, file);
    const std::string path = dir.File(name);
    for (const char* key : {"K", "ProductKey", "PatchKey1", "PatchKey2", ""}) {
      for (const char* fallback : kFallbacks) {
        for (uint32_t size : {255u, 4u, 1u}) {
          char real[300], portable[300];
          const uint32_t real_length =
              files->GetPrivateProfileString("Upgrade", key, fallback, real, size, path.c_str());
          const uint32_t portable_length =
              ReadProfileString(file, "Upgrade", key, fallback, portable, size);
          ASSERT_EQ(portable_length, real_length) << name << " " << key << " in " << size;
          EXPECT_EQ(std::string(portable, portable_length), std::string(real, real_length))
              << name << " " << key << " in " << size;
        }
      }
    }
  }
}

}  // namespace
