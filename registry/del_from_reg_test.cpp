#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "gtest/gtest.h"
#include "tests/doubles/fault_registry.h"
#include "tests/doubles/null_services.h"
#include "tests/support/scratch_dir.h"
#include "winapi/memory_registry.h"

namespace {

const std::string kProduct = "Installer\\Products\\PROD";

// The trace of DelRegKeyRcu on a key without subkeys, entered with `path`.
std::string LeafTrace(const std::string& path) {
  return "CALLING: DelRegKeyRcu()\n"
         "\tOPENING Reg Key --> " +
         path +
         "\n"
         "\tENUM Key return --> \n"
         "\tNo more Keys DELETING --> " +
         path +
         "\n"
         "LEAVING: DelRegKeyRcu()\n";
}

std::string Deleting(const std::string& patch) {
  return "\tDELETING HKEY_CLASSES_ROOT\\Installer\\Patches\\" + patch + " recursively\n";
}

const std::string kProductDone =
    "CALLING: DelFromReg()\n"
    "\tOPENING HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\n"
    "\tSuccessfuly DELETE HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\\Patches\n";

// Runs DelFromReg over an in-memory registry seen through a fault-injecting
// wrapper, with the trace going to a log file in a scratch directory.
class DelFromRegTest : public testing::Test {
 protected:
  DelFromRegTest() : registry_(memory_) {}

  void TearDown() override {
    EXPECT_EQ(0u, memory_.open_handle_count()) << "every handle opened is closed";
  }

  void AddKeys(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) ASSERT_NE(nullptr, memory_.tree().AddPath(path));
  }

  // The product PROD with its Patches key, and `patches` (below
  // Installer\Patches).
  void AddProductAndPatches(const std::vector<std::string>& patches) {
    AddKeys({kProduct + "\\Patches", kProduct + "\\InstallProperties"});
    for (const std::string& patch : patches) AddKeys({"Installer\\Patches\\" + patch});
  }

  int Run(const std::vector<std::string>& keys) {
    CMainDlg dlg(Services{registry_, setup_files_});
    dlg.m_LogMode = TRUE;
    dlg.m_pStringList.reset(new CStringList);
    for (const std::string& key : keys) dlg.m_pStringList->AddTail(key.c_str());
    dlg.m_pLogFile.reset(new CLogFile(dir_.File("trace.log").c_str(), nullptr));
    return dlg.DelFromReg();
  }

  std::string Log() const {
    return std::regex_replace(dir_.Read("trace.log"), std::regex("\r\n"), "\n");
  }

  std::vector<std::string> Remaining() const { return memory_.tree().ListPaths(); }

  // Every key path below Installer\Patches that remains.
  std::vector<std::string> RemainingPatches() const {
    std::vector<std::string> patches;
    for (const std::string& path : Remaining()) {
      if (path.rfind("Installer\\Patches\\", 0) == 0) patches.push_back(path.substr(18));
    }
    return patches;
  }

  MemoryRegistry memory_;
  FaultRegistry registry_;
  NullSetupFiles setup_files_;
  ScratchDir dir_;
};

TEST_F(DelFromRegTest, DeletesAPatchTreeDepthFirstWithTheDocumentedTrace) {
  AddProductAndPatches({"P\\SourceList\\Media"});
  EXPECT_EQ(1, Run({"PROD", "P"}));
  EXPECT_EQ(kProductDone + Deleting("P") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\P\n"
                "\tENUM Key return --> SourceList\n"
                "\tMore Keys DELETING --> SourceList\n"
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> SourceList\n"
                "\tENUM Key return --> Media\n"
                "\tMore Keys DELETING --> Media\n"
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Media\n"
                "\tENUM Key return --> \n"
                "\tNo more Keys DELETING --> Media\n"
                "LEAVING: DelRegKeyRcu()\n"
                "\tENUM Key return --> Media\n"
                "\tNo more Keys DELETING --> SourceList\n"
                "LEAVING: DelRegKeyRcu()\n"
                "\tENUM Key return --> SourceList\n"
                "\tNo more Keys DELETING --> Installer\\Patches\\P\n"
                "LEAVING: DelRegKeyRcu()\n",
            Log());
  EXPECT_EQ((std::vector<std::string>{"Installer", "Installer\\Patches", "Installer\\Products",
                                      kProduct, kProduct + "\\InstallProperties"}),
            Remaining());
}

TEST_F(DelFromRegTest, EmptyKeyListFails) {
  EXPECT_EQ(0, Run({}));
  EXPECT_EQ("CALLING: DelFromReg()\n\tERROR: m_pStringList->GetCount() return 0\n", Log());
  EXPECT_TRUE(registry_.calls().empty());
}

TEST_F(DelFromRegTest, ProductKeyThatCannotBeOpenedStopsEverything) {
  AddKeys({"Installer\\Patches\\P"});
  for (RegStatus open_fault : {kRegSuccess, kRegAccessDenied}) {
    if (open_fault != kRegSuccess) {
      AddProductAndPatches({});
      registry_.FailOpen(kProduct, open_fault);
    }
    ASSERT_EQ(0, Run({"PROD", "P"}));
    EXPECT_EQ(
        "CALLING: DelFromReg()\n"
        "\tOPENING HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\n"
        "\tUnable to OPEN HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\n",
        Log());
    EXPECT_EQ(std::vector<std::string>{"P"}, RemainingPatches());
    EXPECT_TRUE(registry_.CallsStartingWith("DeleteKey").empty());
    std::remove(dir_.File("trace.log").c_str());
  }
}

// A registry whose store is corrupt or unreadable answers every open so; the
// log says so once, where the first key fails, so that it does not read as a
// machine without the product.
TEST_F(DelFromRegTest, UnavailableRegistryIsToldApartFromAnAbsentProduct) {
  AddProductAndPatches({"P"});
  for (RegStatus unavailable : {kRegBadDb, kRegCantRead}) {
    registry_.FailOpen(kProduct, unavailable);
    ASSERT_EQ(0, Run({"PROD", "P"}));
    EXPECT_EQ("CALLING: DelFromReg()\n"
              "\tOPENING HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\n"
              "\tUnable to OPEN HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\n"
              "\tERROR: Registry unavailable --> " + std::to_string(unavailable) + "\n",
              Log());
    EXPECT_EQ(std::vector<std::string>{"P"}, RemainingPatches());
    std::remove(dir_.File("trace.log").c_str());
  }
}

TEST_F(DelFromRegTest, PatchesKeyThatCannotBeDeletedLeavesThePatchesAlone) {
  const std::string unable =
      "CALLING: DelFromReg()\n"
      "\tOPENING HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\n"
      "\tUnable to DELETE HKEY_CLASSES_ROOT\\Installer\\Products\\PROD\\Patches\n";
  AddKeys({kProduct, "Installer\\Patches\\P"});
  EXPECT_EQ(0, Run({"PROD", "P"}));  // no Patches key
  EXPECT_EQ(unable, Log());

  AddKeys({kProduct + "\\Patches\\Kid"});  // a Patches key with a subkey
  std::remove(dir_.File("trace.log").c_str());
  EXPECT_EQ(0, Run({"PROD", "P"}));
  EXPECT_EQ(unable, Log());

  ASSERT_EQ(kRegSuccess,
            memory_.tree().Delete(memory_.tree().root(), (kProduct + "\\Patches\\Kid").c_str()));
  registry_.FailDelete(kProduct + "\\Patches", kRegAccessDenied);  // no access
  std::remove(dir_.File("trace.log").c_str());
  EXPECT_EQ(0, Run({"PROD", "P"}));
  EXPECT_EQ(unable, Log());
  EXPECT_EQ(std::vector<std::string>{"P"}, RemainingPatches());
  EXPECT_EQ(3u, registry_.CallsStartingWith("CloseKey " + kProduct + " = 0").size());
}

TEST_F(DelFromRegTest, OnlyTheProductKeyDeletesOnlyItsPatchesKey) {
  AddProductAndPatches({"P"});
  EXPECT_EQ(1, Run({"PROD"}));
  EXPECT_EQ(kProductDone, Log());
  EXPECT_EQ(std::vector<std::string>{"P"}, RemainingPatches());
  EXPECT_EQ(nullptr, memory_.tree().FindChild(memory_.tree().AddPath(kProduct), "Patches"));
}

TEST_F(DelFromRegTest, MissingPatchIsReportedAndTheNextOneIsStillDeleted) {
  AddProductAndPatches({"P2"});
  EXPECT_EQ(1, Run({"PROD", "NOPE", "P2"}));
  EXPECT_EQ(kProductDone + Deleting("NOPE") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\NOPE\n"
                "\tUnable to OPEN Installer\\Patches\\NOPE\n"
                "LEAVING: DelRegKeyRcu()\n" +
                Deleting("P2") + LeafTrace("Installer\\Patches\\P2"),
            Log());
  EXPECT_TRUE(RemainingPatches().empty());
}

TEST_F(DelFromRegTest, PatchKeyTwiceIsDeletedOnceThenReportedMissing) {
  AddProductAndPatches({"P"});
  EXPECT_EQ(1, Run({"PROD", "P", "P"}));
  EXPECT_EQ(kProductDone + Deleting("P") + LeafTrace("Installer\\Patches\\P") + Deleting("P") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\P\n"
                "\tUnable to OPEN Installer\\Patches\\P\n"
                "LEAVING: DelRegKeyRcu()\n",
            Log());
}

TEST_F(DelFromRegTest, SubkeyThatCannotBeOpenedStopsItsBranchOnly) {
  AddProductAndPatches({"P\\A", "P\\B", "P\\C", "Q\\Kid"});
  registry_.FailOpen("Installer\\Patches\\P\\B", kRegAccessDenied);
  EXPECT_EQ(1, Run({"PROD", "P", "Q"}));
  EXPECT_EQ(kProductDone + Deleting("P") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\P\n"
                "\tENUM Key return --> A\n"
                "\tMore Keys DELETING --> A\n" +
                LeafTrace("A") +
                "\tENUM Key return --> B\n"
                "\tMore Keys DELETING --> B\n"
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> B\n"
                "\tUnable to OPEN B\n"
                "LEAVING: DelRegKeyRcu()\n"
                "LEAVING: DelRegKeyRcu()\n" +
                Deleting("Q") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\Q\n"
                "\tENUM Key return --> Kid\n"
                "\tMore Keys DELETING --> Kid\n" +
                LeafTrace("Kid") +
                "\tENUM Key return --> Kid\n"
                "\tNo more Keys DELETING --> Installer\\Patches\\Q\n"
                "LEAVING: DelRegKeyRcu()\n",
            Log());
  EXPECT_EQ((std::vector<std::string>{"P", "P\\B", "P\\C"}), RemainingPatches());
}

TEST_F(DelFromRegTest, EnumerationFailureStopsTheKeyAndItsAncestors) {
  AddProductAndPatches({"P\\SourceList\\Media", "Q"});
  registry_.FailEnum("Installer\\Patches\\P\\SourceList", 1015);
  EXPECT_EQ(1, Run({"PROD", "P", "Q"}));
  EXPECT_EQ(kProductDone + Deleting("P") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\P\n"
                "\tENUM Key return --> SourceList\n"
                "\tMore Keys DELETING --> SourceList\n"
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> SourceList\n"
                "\tENUM Key return --> \n"
                "LEAVING: DelRegKeyRcu()\n"
                "LEAVING: DelRegKeyRcu()\n" +
                Deleting("Q") + LeafTrace("Installer\\Patches\\Q"),
            Log());
  EXPECT_EQ((std::vector<std::string>{"P", "P\\SourceList", "P\\SourceList\\Media"}),
            RemainingPatches());
}

TEST_F(DelFromRegTest, SubkeyThatCannotBeDeletedLeavesTheTreePartlyDeleted) {
  AddProductAndPatches({"P\\SourceList\\Media", "P\\SourceList\\Net", "P\\Z"});
  registry_.FailDelete("Installer\\Patches\\P\\SourceList\\Net", kRegAccessDenied);
  EXPECT_EQ(1, Run({"PROD", "P"}));
  EXPECT_EQ((std::vector<std::string>{"P", "P\\SourceList", "P\\SourceList\\Net", "P\\Z"}),
            RemainingPatches());
  const std::string log = Log();
  EXPECT_EQ(std::string::npos, log.find("Unable")) << "the failed delete writes no line";
  EXPECT_EQ(std::string::npos, log.find("More Keys DELETING --> Z"));
}

TEST_F(DelFromRegTest, PatchWithoutSubkeysIsDeletedAfterOneEnumeration) {
  AddProductAndPatches({"P"});
  EXPECT_EQ(1, Run({"PROD", "P"}));
  EXPECT_EQ(kProductDone + Deleting("P") + LeafTrace("Installer\\Patches\\P"), Log());
  EXPECT_EQ(1u, registry_.CallsStartingWith("EnumKey").size());
  EXPECT_TRUE(RemainingPatches().empty());
}

TEST_F(DelFromRegTest, SiblingsOfEveryNameLengthAndSeveralLevelsAreAllDeletedSubkeysFirst) {
  AddProductAndPatches({});
  for (size_t length = 1; length <= 255; ++length) {
    const std::string name = std::string(length - 1, 'k') + static_cast<char>('a' + length % 26);
    AddKeys({"Installer\\Patches\\P\\" + name + "\\Level2\\Level3"});
  }
  AddKeys({"Installer\\Patches\\P\\" + std::string(255, 'z') + "\\" + std::string(255, 'y')});
  EXPECT_EQ(1, Run({"PROD", "P"}));
  EXPECT_TRUE(RemainingPatches().empty());
  // A key is deleted only after every key below it: no key is deleted
  // below one deleted before.
  std::vector<std::string> deleted;
  for (const std::string& call : registry_.CallsStartingWith("DeleteKey")) {
    const std::string path = call.substr(10, call.size() - 14);
    for (const std::string& earlier : deleted) {
      EXPECT_NE(0u, path.rfind(earlier + "\\", 0)) << earlier << " before " << path;
    }
    deleted.push_back(path);
  }
  EXPECT_EQ(1u + 255 * 3 + 2 + 1, deleted.size());
}

TEST_F(DelFromRegTest, ValuesThatAreNotOneKeyNameAreRefused) {
  AddProductAndPatches({"P", "a\\b"});
  for (const std::string& product :
       std::vector<std::string>{"", "\\", "PROD\\", "\\PROD", "PROD\\\\", "a\\b"}) {
    std::remove(dir_.File("trace.log").c_str());
    EXPECT_EQ(0, Run({product, "P"})) << product;
    EXPECT_EQ(
        "CALLING: DelFromReg()\n"
        "\tOPENING HKEY_CLASSES_ROOT\\Installer\\Products\\" +
            product +
            "\n"
            "\tERROR: Product Key is not a single key name, nothing opened --> " +
            product + "\n",
        Log());
  }
  EXPECT_TRUE(registry_.calls().empty());

  std::remove(dir_.File("trace.log").c_str());
  const std::vector<std::string> unsafe = {"", "\\", "\\\\", "P\\", "\\P", "P\\\\", "a\\b"};
  std::vector<std::string> keys = {"PROD"};
  keys.insert(keys.end(), unsafe.begin(), unsafe.end());
  EXPECT_EQ(1, Run(keys));
  std::string expected = kProductDone;
  for (const std::string& patch : unsafe) {
    expected += "\tERROR: Patch Key is not a single key name, skipped --> " + patch + "\n";
  }
  EXPECT_EQ(expected, Log());
  EXPECT_EQ((std::vector<std::string>{"a", "a\\b", "P"}), RemainingPatches());
}

TEST_F(DelFromRegTest, DotsAreOrdinaryKeyNames) {
  AddProductAndPatches({".", "..", "P"});
  EXPECT_EQ(1, Run({"PROD", "..", ".", "..."}));
  EXPECT_EQ(kProductDone + Deleting("..") + LeafTrace("Installer\\Patches\\..") + Deleting(".") +
                LeafTrace("Installer\\Patches\\.") + Deleting("...") +
                "CALLING: DelRegKeyRcu()\n"
                "\tOPENING Reg Key --> Installer\\Patches\\...\n"
                "\tUnable to OPEN Installer\\Patches\\...\n"
                "LEAVING: DelRegKeyRcu()\n",
            Log());
  EXPECT_EQ(std::vector<std::string>{"P"}, RemainingPatches());
}

}  // namespace
