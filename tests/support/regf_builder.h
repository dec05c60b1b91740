// Builds binary registry hives for tests (POSIX only): our empty hive,
// filled through libhivex, the library the program itself uses.
#ifndef BRINDLEX_TESTS_SUPPORT_REGF_BUILDER_H_
#define BRINDLEX_TESTS_SUPPORT_REGF_BUILDER_H_

#include <hivex.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "winapi/empty_hive.h"

class RegfBuilder {
 public:
  explicit RegfBuilder(const EmptyHiveOptions& options = {}) {
    file_ = memfd_create("regf-builder", MFD_CLOEXEC);
    const std::string empty = MakeEmptyHive(options);
    if (file_ < 0 || pwrite(file_, empty.data(), empty.size(), 0) != ssize_t(empty.size())) {
      throw std::runtime_error("cannot make the empty hive");
    }
    hive_ = hivex_open(Path().c_str(), HIVEX_OPEN_WRITE);
    if (hive_ == nullptr) throw std::runtime_error("libhivex refused our empty hive");
  }
  ~RegfBuilder() {
    if (hive_ != nullptr) hivex_close(hive_);
    close(file_);
  }
  RegfBuilder(const RegfBuilder&) = delete;
  RegfBuilder& operator=(const RegfBuilder&) = delete;

  hive_h* hive() { return hive_; }

  // Adds every key on `path` (UTF-8 names separated by backslashes) below
  // the root; returns the last.
  hive_node_h Add(const std::string& path) {
    hive_node_h node = hivex_root(hive_);
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('\\', start);
      if (end == std::string::npos) end = path.size();
      if (end > start) node = Child(node, path.substr(start, end - start));
      start = end + 1;
    }
    return node;
  }

  // Sets the REG_SZ value `name` of the key at `path` (ASCII text).
  void SetString(const std::string& path, const std::string& name, const std::string& text) {
    std::string utf16;
    for (char c : text + '\0') {
      utf16 += c;
      utf16 += '\0';
    }
    hive_set_value value{const_cast<char*>(name.c_str()), hive_t_REG_SZ, utf16.size(),
                         const_cast<char*>(utf16.data())};
    if (hivex_node_set_value(hive_, Add(path), &value, 0) != 0) {
      throw std::runtime_error("cannot set value " + name);
    }
  }

  // The hive's file contents as committed now.
  std::string Bytes() {
    if (hivex_commit(hive_, Path().c_str(), 0) != 0) throw std::runtime_error("commit failed");
    std::string bytes;
    char chunk[65536];
    for (off_t at = 0;;) {
      const ssize_t got = pread(file_, chunk, sizeof chunk, at);
      if (got <= 0) break;
      bytes.append(chunk, static_cast<size_t>(got));
      at += got;
    }
    return bytes;
  }

 private:
  std::string Path() const { return "/proc/self/fd/" + std::to_string(file_); }

  hive_node_h Child(hive_node_h parent, const std::string& name) {
    if (hive_node_h found = hivex_node_get_child(hive_, parent, name.c_str())) return found;
    const hive_node_h added = hivex_node_add_child(hive_, parent, name.c_str());
    if (added == 0) throw std::runtime_error("cannot add key " + name);
    return added;
  }

  int file_ = -1;
  hive_h* hive_ = nullptr;
};

// Every key path below the root of the hive file `path`, read by libhivex,
// each followed by its REG_SZ values as "KEY NAME=TEXT".
inline std::vector<std::string> ReadHiveKeys(const std::string& path) {
  struct Closer {
    void operator()(hive_h* hive) const { hivex_close(hive); }
  };
  std::unique_ptr<hive_h, Closer> hive(hivex_open(path.c_str(), 0));
  if (!hive) return {"(libhivex cannot open it)"};
  std::vector<std::string> lines;
  std::function<void(hive_node_h, const std::string&)> walk = [&](hive_node_h node,
                                                                   const std::string& key) {
    hive_value_h* values = hivex_node_values(hive.get(), node);
    for (size_t i = 0; values && values[i]; ++i) {
      char* name = hivex_value_key(hive.get(), values[i]);
      char* text = hivex_value_string(hive.get(), values[i]);
      lines.push_back(key + " " + name + "=" + (text ? text : "?"));
      std::free(name);
      std::free(text);
    }
    std::free(values);
    hive_node_h* children = hivex_node_children(hive.get(), node);
    for (size_t i = 0; children && children[i]; ++i) {
      char* name = hivex_node_name(hive.get(), children[i]);
      const std::string child = key.empty() ? name : key + "\\" + name;
      std::free(name);
      lines.push_back(child);
      walk(children[i], child);
    }
    std::free(children);
  };
  walk(hivex_root(hive.get()), "");
  return lines;
}

#endif  // BRINDLEX_TESTS_SUPPORT_REGF_BUILDER_H_
