#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/file_io.h"

namespace torvane {

// File format, one value per line:
//   "name" sz "text"
//   "name" hex "0011aabb"
// Inside the quotes a backslash escapes: \\ \" \n \r \t and \xHH for any other
// control byte, so a line break, a quote or a backslash in a name or text can never
// end the line or the field early. Blank lines and lines starting with '#' are
// comments. Bytes of 0x80 and above stand as they are (UTF-8 stays readable).

namespace {

constexpr size_t kMaxStoreFileBytes = 16u << 20;
constexpr char kHexDigits[] = "0123456789abcdef";

void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHexDigits[c >> 4];
          out += kHexDigits[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one quoted field at `pos`; on success `pos` is just past the closing quote.
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != '"') return false;
  for (size_t i = pos + 1; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c < 0x20 || c == 0x7f) return false;  // raw control bytes are never written
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (++i >= line.size()) return false;
    switch (line[i]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (i + 2 >= line.size()) return false;
        int hi = HexValue(line[i + 1]), lo = HexValue(line[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi << 4 | lo);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return false;  // no closing quote
}

bool DecodeHex(std::string_view hex, std::string& out) {
  out.clear();
  if (hex.size() % 2) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi << 4 | lo);
  }
  return true;
}

bool DecodeLine(std::string_view line, std::string& name, RegValue& value) {
  size_t pos = 0;
  if (!ReadQuoted(line, pos, name)) return false;
  std::string_view rest = line.substr(pos);
  std::string payload;
  if (rest.substr(0, 4) == " sz ") {
    value.type = RegType::kString;
    pos += 4;
  } else if (rest.substr(0, 5) == " hex ") {
    value.type = RegType::kBinary;
    pos += 5;
  } else {
    return false;
  }
  if (!ReadQuoted(line, pos, payload) || pos != line.size()) return false;
  if (value.type == RegType::kString) {
    value.data = std::move(payload);
    return true;
  }
  return DecodeHex(payload, value.data);
}

}  // namespace

std::string EncodeRegistryFile(const RegValues& values) {
  std::string out = "# torvane value store: \"name\" sz \"text\" or \"name\" hex \"bytes\"\n";
  for (const auto& [name, value] : values) {
    AppendQuoted(out, name);
    if (value.type == RegType::kBinary) {
      out += " hex \"";
      for (char ch : value.data) {
        unsigned char c = static_cast<unsigned char>(ch);
        out += kHexDigits[c >> 4];
        out += kHexDigits[c & 15];
      }
      out += '"';
    } else {
      out += " sz ";
      AppendQuoted(out, value.data);
    }
    out += '\n';
  }
  return out;
}

bool DecodeRegistryFile(std::string_view text, RegValues& out) {
  out.clear();
  bool wellFormed = true;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == text.npos ? text.npos : nl - pos);
    pos = nl == text.npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // edited on another system
    if (line.empty() || line.front() == '#') continue;
    std::string name;
    RegValue value;
    if (!DecodeLine(line, name, value) || out.count(name)) {
      wellFormed = false;  // a second line for a name is refused; the first one stands
      continue;
    }
    out.emplace(std::move(name), std::move(value));
  }
  return wellFormed;
}

bool IsPlainSubkey(std::string_view subkey) {
  // Hidden names are refused too: the store's lock and temporary files are hidden
  // names in the same folder, and a subkey must never be one of them.
  return !subkey.empty() && subkey.front() != '.' && subkey.find('/') == subkey.npos &&
         subkey.find('\0') == subkey.npos;
}

namespace {

// Creates `path` and any missing parents with mode 0755 (whatever the umask).
bool EnsureFolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0755) == 0) {
      ::chmod(prefix.c_str(), 0755);
    } else if (!prefix.empty() && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class FileRegistry : public RegistryStore {
 public:
  explicit FileRegistry(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  }

  std::optional<RegValue> Read(std::string_view subkey, std::string_view name) override {
    if (!IsPlainSubkey(subkey)) return std::nullopt;
    // Every write replaces the file whole, so a read needs no lock.
    std::string text;
    if (ReadWholeFile(PathOf(subkey), text, kMaxStoreFileBytes) != FileRead::kOk) return std::nullopt;
    RegValues values;
    DecodeRegistryFile(text, values);  // a damaged line hides only its own value
    auto it = values.find(std::string(name));
    if (it == values.end()) return std::nullopt;
    return it->second;
  }

  bool Write(std::string_view subkey, std::string_view name, const RegValue& value) override {
    return Change(subkey, true, [&](RegValues& values, bool) {
      values[std::string(name)] = value;
      return true;
    });
  }

  bool Delete(std::string_view subkey, std::string_view name) override {
    return Change(subkey, false, [&](RegValues& values, bool existed) {
      return existed && values.erase(std::string(name)) > 0;
    });
  }

  // A subkey's file is replaced through a temporary file beside it; the lock file
  // and anything else in the folder stay.
  void RemoveLeftovers() override {
    RemoveLeftoverTemporaries(root_, [](std::string_view target) { return IsPlainSubkey(target); });
  }

 private:
  std::string PathOf(std::string_view subkey) const { return root_ + "/" + std::string(subkey); }

  // One read-modify-write cycle. The mutex orders this process's threads; the flock
  // on the lock file orders processes (and stores of the same root in one process),
  // so no writer ever replaces the file with a copy that misses another's value.
  bool Change(std::string_view subkey, bool create,
              const std::function<bool(RegValues&, bool)>& change) {
    if (!IsPlainSubkey(subkey)) return false;
    std::lock_guard<std::mutex> guard(mutex_);
    if (create ? !EnsureFolder(root_) : ::access(root_.c_str(), F_OK) != 0) return false;
    int lock = ::open((root_ + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) return false;
    int rc;
    do rc = ::flock(lock, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    bool ok = false;
    if (rc == 0) {
      std::string path = PathOf(subkey), text;
      FileRead read = ReadWholeFile(path, text, kMaxStoreFileBytes);
      if (read != FileRead::kFailed) {
        RegValues values;
        // A damaged line is dropped at this rewrite; every well-formed value is kept.
        DecodeRegistryFile(text, values);
        if (change(values, read == FileRead::kOk))
          ok = ReplaceFileAtomically(path, EncodeRegistryFile(values), 0644);
      }
    }
    ::close(lock);  // releases the flock
    return ok;
  }

  std::string root_;
  std::mutex mutex_;
};

}  // namespace

std::unique_ptr<RegistryStore> MakeFileRegistry(std::string root) {
  return std::make_unique<FileRegistry>(std::move(root));
}

std::string DefaultRegistryRoot() {
  const char* env = std::getenv("TORVANE_REGISTRY");
  return env && *env ? std::string(env) : std::string(kRegistryRoot);
}

std::optional<RegValue> MemoryRegistry::Read(std::string_view subkey, std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsPlainSubkey(subkey)) return std::nullopt;
  auto key = keys.find(std::string(subkey));
  if (key == keys.end()) return std::nullopt;
  auto it = key->second.find(std::string(name));
  if (it == key->second.end()) return std::nullopt;
  return it->second;
}

bool MemoryRegistry::Write(std::string_view subkey, std::string_view name, const RegValue& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failWrites || !IsPlainSubkey(subkey)) return false;
  keys[std::string(subkey)][std::string(name)] = value;
  return true;
}

bool MemoryRegistry::Delete(std::string_view subkey, std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failWrites || !IsPlainSubkey(subkey)) return false;
  auto key = keys.find(std::string(subkey));
  return key != keys.end() && key->second.erase(std::string(name)) > 0;
}

}  // namespace torvane
