// A fresh, empty directory for one test, removed with everything in it when
// the test ends.
#ifndef BRINDLEX_TESTS_SUPPORT_SCRATCH_DIR_H_
#define BRINDLEX_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("brindlex-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

  // The whole content of `name`, read as bytes; empty when it does not exist.
  std::string Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
  }

  // The content of `name` read in the platform's text mode, where the
  // platform's line ends read as "\n".
  std::string ReadText(const std::string& name) const {
    std::ifstream in(File(name));
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  void WriteText(const std::string& name, const std::string& text) const {
    std::ofstream(File(name)) << text;
  }

 private:
  std::filesystem::path path_;
};

// Makes a scratch directory the current directory while it lives.
struct ScratchCurrentDirectory {
  ScratchCurrentDirectory() : previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir.path());
  }
  ~ScratchCurrentDirectory() { std::filesystem::current_path(previous); }

  ScratchDir dir;
  std::filesystem::path previous;
};

#endif  // BRINDLEX_TESTS_SUPPORT_SCRATCH_DIR_H_
