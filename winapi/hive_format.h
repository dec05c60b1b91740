// The registry editor's text format (".reg" files), read into a KeyTree and
// written back after keys were deleted. The POSIX build keeps its registry in
// such a file, and reads it as the platform's import ("reg import") does.
//
// Accepted files: the header "Windows Registry Editor Version 5.00" or
// "REGEDIT4" on the first line (blanks before it, none after it), in
// UTF-16LE with a byte order mark or in single bytes without one (read as
// ANSI, Windows-1252, as the platform's import does); lines end in CR LF, LF
// or CR. Sections "[ROOT\key\...]" under HKEY_CLASSES_ROOT (or HKCR) name
// keys of the tree, and each implies the keys above it. Like the import, the
// reader passes over, and keeps where they are: blank lines, comments, value
// lines (valid or not; hex bytes continued with "\" take the lines that
// continue them, up to the end of the file), lines of unknown form, section
// lines without "]" or with a blank after "[" (the values after them stay
// in the section before), and sections it cannot open (other roots, unknown
// roots, a path starting with "\"), which name no key.
//
// These make the file unreadable rather than risk losing what it holds:
// another encoding (UTF-8 or UTF-16 byte order marks included), another
// header, a deletion section "[-...]" (such a file is a list of changes, not
// a registry), a key name longer than 256 characters or (in UTF-16 files)
// with a character outside the ANSI code page, a key more than 512 levels
// below the root (the platform's registry holds none, and deleting it would
// recurse that deep), a zero character.
#ifndef BRINDLEX_WINAPI_HIVE_FORMAT_H_
#define BRINDLEX_WINAPI_HIVE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "winapi/key_tree.h"

enum class HiveEncoding { kAnsi, kUtf16Le };

struct HiveError {
  size_t line = 0;  // 1-based line of the file the fault is on
  std::string message;
};

// Where one section of a file starts and what it names.
struct HiveSection {
  uint64_t begin = 0;       // offset of its header line in the file
  KeyNode* key = nullptr;  // null for a section under another root
  // The depth (1 for a key right below the root) of the first key on its
  // path that this section created: the keys from there down to `key` took
  // the spelling of their names from it. kCreatedNone when it created none.
  uint16_t created_from = 0;
  static constexpr uint16_t kCreatedNone = 0xFFFF;
};

// Called with consecutive pieces of the file being written. Returns false to
// stop the writing.
using HiveSink = std::function<bool(const char* data, size_t size)>;

// Gives the next bytes of the file being read, at most `capacity` of them,
// in `buffer`. Returns how many: 0 at the end of the file, -1 when it
// cannot be read.
using HiveSource = std::function<ptrdiff_t(char* buffer, size_t capacity)>;

// Where a document is written: `copy` gives the `size` bytes of the file
// read that start at byte `offset`, `put` new bytes. Each returns false to
// stop the writing.
struct HiveWriter {
  std::function<bool(uint64_t offset, uint64_t size)> copy;
  HiveSink put;
};

class HiveInput;

class HiveDocument {
 public:
  HiveDocument() = default;
  HiveDocument(const HiveDocument&) = delete;
  HiveDocument& operator=(const HiveDocument&) = delete;

  // Reads the file from `source`, from its start to its end, and adds every
  // key it names under HKEY_CLASSES_ROOT to `tree`, which must outlive the
  // document and lose keys only by deletes. The document keeps none of the
  // file's bytes: writing it copies them from the file again. `size_hint`
  // is the file's size as far as known: it sizes the list of sections, and
  // from kThreadedReadSize on, the keys are added to `tree` on a thread of
  // their own while the file is parsed (the tree is the caller's again
  // when this returns).
  // Returns true on success. On failure returns false and describes the
  // first fault in `*error` ("read error" when `source` failed); the tree
  // may then hold some of the keys and the document is unusable.
  bool Read(const HiveSource& source, uint64_t size_hint, KeyTree* tree, HiveError* error);
  static constexpr uint64_t kThreadedReadSize = 4 << 20;

  // Read from the file contents `text`, which the document keeps for
  // Write(sink) and ToString.
  bool Parse(std::string text, KeyTree* tree, HiveError* error);

  // Writes the file as it reads after the deletes made in the tree since
  // Parse: the bytes read, less the section of every deleted key (its header
  // line up to the next header line: its values, and blank lines and
  // comments after them). Where a removed section had created keys that
  // remain (keys above its own that no earlier section named), the deepest
  // of them gets a section of its own, without values, in its place: so
  // reading the file again gives the tree as it is, the keys that lost their
  // last section included, with names spelled as first created. With no
  // deletes the bytes come out unchanged. Returns false when `out` did.
  bool Write(const HiveWriter& out) const;

  // After Parse: Write with the bytes kept, into `sink` or a string.
  bool Write(const HiveSink& sink) const;
  std::string ToString() const;

  // The size of the file read.
  uint64_t size() const { return size_; }

  HiveEncoding encoding() const { return encoding_; }

 private:
  template <HiveEncoding kEncoding>
  bool ParseAs(HiveInput* input, size_t start, uint64_t size_hint, HiveError* error);
  // What takes the place of `section`, a deleted section.
  bool WriteReplacement(const HiveSection& section, const HiveSink& sink) const;
  // The deepest key on the path of `section`, a deleted section, that the
  // section created and that still exists; null when there is none.
  static const KeyNode* DeepestKeptKeyCreatedBy(const HiveSection& section);
  std::string EncodeSectionFor(const KeyNode* key) const;

  std::string text_;  // the file's bytes, after Parse only
  uint64_t size_ = 0;
  HiveEncoding encoding_ = HiveEncoding::kAnsi;
  std::string line_end_ = "\r\n";  // as the header line ends (CR LF, LF, CR), in ANSI
  KeyTree* tree_ = nullptr;
  std::vector<HiveSection> sections_;
};

#endif  // BRINDLEX_WINAPI_HIVE_FORMAT_H_
