// The agent's small value store (per-adapter switches, per-address port lists,
// bookkeeping values): one file per subkey under a root folder (/var/lib/torvane,
// or $TORVANE_REGISTRY), one line per value, texts escaped and binary values in
// hex so that any name or value reads back as written and none can forge a line.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

enum class RegType : uint32_t { kString = 1, kBinary = 3 };

struct RegValue {
  RegType type = RegType::kString;
  std::string data;  // text without terminator, or the binary bytes
  bool operator==(const RegValue&) const = default;
};

using RegValues = std::map<std::string, RegValue>;

// The file format, pure: encode a subkey's values, decode a file's text (false
// when the text is not a well-formed store file; `out` then holds what read well).
std::string EncodeRegistryFile(const RegValues& values);
bool DecodeRegistryFile(std::string_view text, RegValues& out);
// A subkey is one plain file-name component: not empty, no '/' or NUL, and not a
// hidden name (so never "." or "..", nor the store's own lock and temporary files).
bool IsPlainSubkey(std::string_view subkey);

class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  virtual std::optional<RegValue> Read(std::string_view subkey, std::string_view name) = 0;
  // Creates the subkey when needed. False on any failure (bad subkey, no right to write).
  virtual bool Write(std::string_view subkey, std::string_view name, const RegValue& value) = 0;
  // False when the subkey or the value cannot be opened or removed.
  virtual bool Delete(std::string_view subkey, std::string_view name) = 0;
  // Removes what writes interrupted by a crash left behind.
  virtual void RemoveLeftovers() {}
};

// Files under `root` (created 0755 when missing; files 0644); the read-modify-write
// of each change is serialised between threads and processes and replaces the
// subkey's file atomically. Delete of a value that is not there is a failure.
std::unique_ptr<RegistryStore> MakeFileRegistry(std::string root);
constexpr const char* kRegistryRoot = "/var/lib/torvane";
// The root named by $TORVANE_REGISTRY, else kRegistryRoot.
std::string DefaultRegistryRoot();

class MemoryRegistry : public RegistryStore {
 public:
  std::optional<RegValue> Read(std::string_view subkey, std::string_view name) override;
  bool Write(std::string_view subkey, std::string_view name, const RegValue& value) override;
  bool Delete(std::string_view subkey, std::string_view name) override;
  std::map<std::string, RegValues> keys;
  bool failWrites = false;

 private:
  std::mutex mutex_;
};

}  // namespace torvane
