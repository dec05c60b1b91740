// Benchmarks of the POSIX build's registry on hives of 10 thousand, 100
// thousand and 1 million keys: reading the file into the key tree, opening
// key paths, the cleaner's depth-first delete of a tree of that many keys,
// and writing the file back after a run's deletes. Each reports keys/s, and
// the file's bytes/s where a file is read or written.
//
// Run: build/native/brindlex_bench [--benchmark_filter=Parse]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "bench/hive_shape.h"
#include "tests/doubles/null_services.h"
#include "winapi/hive_format.h"
#include "winapi/memory_registry.h"

namespace {

// The target patch's tree in a generated hive: a tenth of its keys, as in
// the whole-program timings.
size_t TreeSizeFor(size_t keys) { return keys / 10; }

const GeneratedHive& HiveOf(size_t keys) {
  static std::map<size_t, std::unique_ptr<GeneratedHive>> hives;
  std::unique_ptr<GeneratedHive>& hive = hives[keys];
  if (!hive) hive = std::make_unique<GeneratedHive>(MakeHive(keys, TreeSizeFor(keys)));
  return *hive;
}

// A hive file read into the registry engine, as the POSIX program holds it.
struct LoadedHive {
  MemoryRegistry registry;
  HiveDocument document;
  bool parsed = false;
};

std::unique_ptr<LoadedHive> Load(const GeneratedHive& hive) {
  auto loaded = std::make_unique<LoadedHive>();
  HiveError error;
  loaded->parsed = loaded->document.Parse(hive.text, &loaded->registry.tree(), &error);
  return loaded;
}

// The cleaner of a run, over `registry`, with its trace off, or appended to
// `log_name` when one is given.
class Cleaner {
 public:
  Cleaner(Registry& registry, const std::string& log_name)
      : dialog_(Services{registry, setup_files_}) {
    if (log_name.empty()) return;
    dialog_.m_LogMode = TRUE;
    dialog_.m_pLogFile = std::make_unique<CLogFile>(log_name.c_str(), nullptr);
  }

  RegStatus DeleteTree(const std::string& path) {
    return dialog_.DelRegKeyRcu(ClassesRootKey(), path.c_str());
  }

  // What a run does: the product's Patches key, then each patch's tree.
  int DeleteProductPatches(const std::vector<std::string>& keys) {
    dialog_.m_pStringList = std::make_unique<CStringList>();
    for (const std::string& key : keys) dialog_.m_pStringList->AddTail(key.c_str());
    return dialog_.DelFromReg();
  }

 private:
  NullSetupFiles setup_files_;
  CMainDlg dialog_;
};

// A hive of `keys` keys as it was read.
LoadedHive& PristineHive(size_t keys) {
  static std::map<size_t, std::unique_ptr<LoadedHive>> hives;
  std::unique_ptr<LoadedHive>& loaded = hives[keys];
  if (!loaded) loaded = Load(HiveOf(keys));
  return *loaded;
}

// A hive of `keys` keys after a run deleted its target product's Patches key
// and its target patch's tree.
LoadedHive& CleanedHive(size_t keys) {
  static std::map<size_t, std::unique_ptr<LoadedHive>> hives;
  std::unique_ptr<LoadedHive>& loaded = hives[keys];
  if (!loaded) {
    const GeneratedHive& hive = HiveOf(keys);
    loaded = Load(hive);
    Cleaner cleaner(loaded->registry, "");
    if (cleaner.DeleteProductPatches({hive.product, hive.patch}) != 1) loaded->parsed = false;
  }
  return *loaded;
}

// Up to `count` paths of existing keys, drawn at random from the whole tree.
std::vector<std::string> SamplePaths(const KeyTree& tree, size_t count) {
  std::vector<std::string> all = tree.ListPaths();
  std::mt19937 engine(7);
  std::shuffle(all.begin(), all.end(), engine);
  if (all.size() > count) all.resize(count);
  return all;
}

void ReportRates(benchmark::State& state, size_t keys, size_t bytes) {
  state.counters["keys/s"] = benchmark::Counter(
      static_cast<double>(keys) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  if (bytes != 0) state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

void HiveSizes(benchmark::internal::Benchmark* benchmark) {
  for (int64_t keys : {10000, 100000, 1000000}) benchmark->Arg(keys);
}

// Parse: the file's bytes (UTF-16, as an export writes them) into a new key
// tree. The copy of the text and the freeing afterwards are not timed.
void BM_ParseHive(benchmark::State& state) {
  const GeneratedHive& hive = HiveOf(static_cast<size_t>(state.range(0)));
  bool ok = true;
  for (auto _ : state) {
    state.PauseTiming();
    std::string text = hive.text;
    auto tree = std::make_unique<KeyTree>();
    auto document = std::make_unique<HiveDocument>();
    HiveError error;
    state.ResumeTiming();
    const bool parsed = document->Parse(std::move(text), tree.get(), &error);
    state.PauseTiming();
    ok = ok && parsed && tree->key_count() == hive.key_count;
    document.reset();
    tree.reset();
    state.ResumeTiming();
  }
  if (!ok) state.SkipWithError("the generated hive did not parse to its keys");
  ReportRates(state, hive.key_count, hive.text.size());
}
BENCHMARK(BM_ParseHive)->Apply(HiveSizes)->Unit(benchmark::kMillisecond);

// Look up: open (and close) one existing key path below HKEY_CLASSES_ROOT,
// a different key of the hive each time.
void BM_OpenKey(benchmark::State& state) {
  LoadedHive& loaded = PristineHive(static_cast<size_t>(state.range(0)));
  const std::vector<std::string> paths = SamplePaths(loaded.registry.tree(), 4096);
  size_t next = 0;
  bool ok = loaded.parsed && !paths.empty();
  for (auto _ : state) {
    RegKey key = nullptr;
    ok = ok && loaded.registry.OpenKey(ClassesRootKey(), paths[next].c_str(), &key) == kRegSuccess;
    (void)loaded.registry.CloseKey(key);  // a failed open is caught by `ok`
    next = next + 1 < paths.size() ? next + 1 : 0;
  }
  if (!ok) state.SkipWithError("a key path did not open");
  ReportRates(state, 1, 0);
}
BENCHMARK(BM_OpenKey)->Apply(HiveSizes);

// Delete: the cleaner's recursive delete of a patch's tree of N keys
// (open, enumerate index 0, recurse, delete through the parent, close),
// with its trace off or appended to a log file. Building the tree is not
// timed.
void DeleteTree(benchmark::State& state, bool logged) {
  const std::vector<std::string> paths =
      PatchTreePaths("8A1D5C2E6F3B4A7D9E0F1A2B3C4D5E6F", static_cast<size_t>(state.range(0)));
  const std::string log_name =
      logged ? "/tmp/brindlex_bench_" + std::to_string(getpid()) + ".log" : std::string();
  bool ok = true;
  for (auto _ : state) {
    state.PauseTiming();
    auto registry = std::make_unique<MemoryRegistry>();
    for (const std::string& path : paths) registry->tree().AddPath(path);
    auto cleaner = std::make_unique<Cleaner>(*registry, log_name);
    state.ResumeTiming();
    const RegStatus status = cleaner->DeleteTree(paths.front());
    state.PauseTiming();
    // Installer and Installer\Patches remain.
    ok = ok && status == kRegSuccess && registry->tree().key_count() == 2;
    cleaner.reset();
    registry.reset();
    if (logged) std::remove(log_name.c_str());
    state.ResumeTiming();
  }
  if (!ok) state.SkipWithError("the tree was not deleted");
  ReportRates(state, paths.size(), 0);
}

void BM_DeleteTree(benchmark::State& state) { DeleteTree(state, false); }
BENCHMARK(BM_DeleteTree)->Apply(HiveSizes)->Unit(benchmark::kMillisecond);

void BM_DeleteTreeLogged(benchmark::State& state) { DeleteTree(state, true); }
BENCHMARK(BM_DeleteTreeLogged)->Apply(HiveSizes)->Unit(benchmark::kMillisecond);

// Write back: the file's new contents after a run's deletes, gathered in
// memory (the program hands the same pieces to write(2)).
void BM_WriteHive(benchmark::State& state) {
  LoadedHive& loaded = CleanedHive(static_cast<size_t>(state.range(0)));
  std::string out;
  const auto write = [&loaded, &out] {
    out.clear();
    return loaded.document.Write([&out](const char* data, size_t size) {
      out.append(data, size);
      return true;
    });
  };
  // Once untimed, so that the timed runs do not pay for the first touch of
  // the output buffer's pages.
  bool ok = loaded.parsed && write();
  for (auto _ : state) ok = write() && ok;
  if (!ok) state.SkipWithError("the cleaned hive could not be written");
  ReportRates(state, loaded.registry.tree().key_count(), out.size());
}
BENCHMARK(BM_WriteHive)->Apply(HiveSizes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
