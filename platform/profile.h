// Profile (INI) files with the semantics the agent was written against: sections
// and keys compared without case, the first occurrence of a key in the first
// matching section wins, ';' starts a comment line, blanks around names and values
// are trimmed and one pair of surrounding quotes is removed, LF and CRLF both read.
// A write keeps every other line and comment; writing no value deletes the key.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvane {

// One key to write: a value, or nullopt to delete the key.
using IniEdit = std::pair<std::string, std::optional<std::string>>;

// Pure text operations, shared by the real and the in-memory profile.
std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key);
std::string IniApply(std::string_view text, std::string_view section,
                     const std::vector<IniEdit>& edits);
// GetPrivateProfileInt's reading of a value: optional sign, leading decimal digits
// (none gives 0), negative values wrap to unsigned 32 bits.
uint32_t IniParseInt(std::string_view value);
// GetInt and GetString over a text already in memory (one read of the file for
// many keys, and every key read from the same version of it).
uint32_t IniGetInt(std::string_view text, std::string_view section, std::string_view key,
                   uint32_t def);
std::string IniGetString(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view def, size_t size);
// True when a section, key and value can be written so that they read back as
// written: no line breaks or NULs anywhere, a key without '=' that does not start
// like a comment or a section, a section without ']', names without surrounding
// blanks. IniApply leaves out any edit that fails this; Profile::Write refuses it.
bool IniEditWritable(std::string_view section, const IniEdit& edit);

class Profile {
 public:
  virtual ~Profile() = default;
  // The file's whole text; a missing file reads as empty (every key takes its
  // default, and the first write creates it); nullopt when it exists but cannot be
  // read, so that a write never replaces a file it could not read.
  virtual std::optional<std::string> Load(const std::string& file) = 0;
  // Replaces the file with `text` in one step; false when it could not be written.
  virtual bool Store(const std::string& file, const std::string& text) = 0;
  // Removes what writes of `file` interrupted by a crash left behind.
  virtual void RemoveLeftovers(const std::string& file) { (void)file; }

  // The integer of a key; `def` when the key is missing or its value empty.
  uint32_t GetInt(const std::string& file, std::string_view section, std::string_view key,
                  uint32_t def);
  // The text of a key, cut to size - 1 characters (size counts the terminator);
  // `def` (cut likewise) when the key is missing.
  std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view def, size_t size);
  // Writes (or, with nullopt, deletes) the keys as one file replacement. False
  // when the file could not be read or written or an edit is not writable. A
  // write that would change nothing leaves the file untouched and succeeds.
  bool Write(const std::string& file, std::string_view section, const std::vector<IniEdit>& edits);
};

// Real files: reads with one open, writes a unique temporary file beside the file
// the name resolves to (a symbolic link stays one), with that file's mode (0644
// for a new one), fsync, and renames it over.
std::unique_ptr<Profile> MakeFileProfile();

// In-memory files for tests.
class MemoryProfile : public Profile {
 public:
  std::optional<std::string> Load(const std::string& file) override;
  bool Store(const std::string& file, const std::string& text) override;
  std::map<std::string, std::string> files;
  bool failWrites = false;
};

}  // namespace torvane
