// The empty hive as libhivex, an independent reader and writer, sees it.
#include <hivex.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/regf_builder.h"
#include "tests/support/scratch_dir.h"
#include "winapi/empty_hive.h"

namespace {

struct Closer {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};

TEST(EmptyHiveWithLibhivex, OpensWithARootOfNoKeysOrValues) {
  for (uint32_t minor : {3u, 5u}) {
    ScratchDir dir;
    EmptyHiveOptions options;
    options.minor_version = minor;
    options.root_name = "CMI-CreateHive";
    dir.Write("empty", MakeEmptyHive(options));
    std::unique_ptr<hive_h, Closer> hive(hivex_open(dir.File("empty").c_str(), 0));
    ASSERT_TRUE(hive) << minor;
    const hive_node_h root = hivex_root(hive.get());
    ASSERT_NE(root, 0u);
    char* name = hivex_node_name(hive.get(), root);
    EXPECT_STREQ(name, "CMI-CreateHive");
    std::free(name);
    EXPECT_EQ(hivex_node_nr_children(hive.get(), root), 0u);
    EXPECT_EQ(hivex_node_nr_values(hive.get(), root), 0u);
  }
}

TEST(EmptyHiveWithLibhivex, TakesKeysAndValuesAndReadsThemBackAfterCommit) {
  RegfBuilder builder;
  builder.Add("Classes\\Installer\\Products\\P1\\Patches");
  builder.SetString("Classes\\Installer\\Products\\P1", "ProductName", "Example");
  for (int i = 0; i < 300; ++i) builder.Add("Classes\\Wide\\K" + std::to_string(i));
  const std::string bytes = builder.Bytes();
  EXPECT_GT(bytes.size(), 8192u);  // new bins were added

  ScratchDir dir;
  dir.Write("hive", bytes);
  std::unique_ptr<hive_h, Closer> hive(hivex_open(dir.File("hive").c_str(), 0));
  ASSERT_TRUE(hive);
  hive_node_h node = hivex_root(hive.get());
  for (const char* name : {"classes", "INSTALLER", "Products", "p1"}) {
    node = hivex_node_get_child(hive.get(), node, name);
    ASSERT_NE(node, 0u) << name;
  }
  const hive_value_h value = hivex_node_get_value(hive.get(), node, "ProductName");
  ASSERT_NE(value, 0u);
  char* text = hivex_value_string(hive.get(), value);
  EXPECT_STREQ(text, "Example");
  std::free(text);
  hive_node_h classes = hivex_node_get_child(hive.get(), hivex_root(hive.get()), "Classes");
  EXPECT_EQ(hivex_node_nr_children(hive.get(), hivex_node_get_child(hive.get(), classes, "Wide")),
            300u);
}

}  // namespace
