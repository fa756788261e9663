#include "platform/profile.h"

#include <algorithm>
#include <cstdlib>

#include "common/text.h"
#include "platform/file_io.h"

namespace torvane {

namespace {

// A profile larger than this is not one the agent wrote or a person edits.
constexpr size_t kMaxProfileBytes = 4u << 20;

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s) {
  size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(kBlanks);
  return s.substr(b, e - b + 1);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back()) return v.substr(1, v.size() - 2);
  return v;
}

enum class LineKind { kBlank, kComment, kSection, kKey, kOther };

// One line of the text: [begin, contentEnd) is what the line says, [contentEnd, end)
// its line break ("\n" or "\r\n", none on an unterminated last line).
struct Line {
  size_t begin;
  size_t contentEnd;
  size_t end;
  LineKind kind;
  std::string_view name;   // section or key, trimmed
  std::string_view value;  // key value, trimmed and unquoted
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  // A UTF-8 byte-order mark, as some editors write it, is not part of the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    Line line{};
    line.begin = pos;
    if (nl == std::string_view::npos) {
      line.contentEnd = line.end = text.size();
    } else {
      line.end = nl + 1;
      line.contentEnd = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
    }
    std::string_view content = Trim(text.substr(line.begin, line.contentEnd - line.begin));
    if (content.empty()) {
      line.kind = LineKind::kBlank;
    } else if (content.front() == ';') {
      line.kind = LineKind::kComment;
    } else if (content.front() == '[') {
      line.kind = LineKind::kSection;
      size_t close = content.find(']');
      line.name = Trim(content.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                         : close - 1));
    } else if (size_t eq = content.find('='); eq != std::string_view::npos && eq > 0) {
      line.kind = LineKind::kKey;
      line.name = Trim(content.substr(0, eq));
      line.value = Unquote(Trim(content.substr(eq + 1)));
    } else {
      line.kind = LineKind::kOther;
    }
    lines.push_back(line);
    pos = line.end;
  }
  return lines;
}

// The lines of the first section named `section`: [first, last) after its header.
struct SectionRange {
  bool found = false;
  size_t header = 0;
  size_t first = 0;
  size_t last = 0;
};

SectionRange FindSection(const std::vector<Line>& lines, std::string_view section) {
  SectionRange r;
  std::string_view wanted = Trim(section);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::kSection || !EqualsNoCase(lines[i].name, wanted)) continue;
    r.found = true;
    r.header = i;
    r.first = i + 1;
    r.last = r.first;
    while (r.last < lines.size() && lines[r.last].kind != LineKind::kSection) ++r.last;
    break;
  }
  return r;
}

bool HasBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != s.npos; }

// The text to write after "key=", quoted when the reader would otherwise trim or
// unquote it into something else.
std::string ValueText(std::string_view value) {
  bool quote = !value.empty() &&
               (kBlanks.find(value.front()) != std::string_view::npos ||
                kBlanks.find(value.back()) != std::string_view::npos ||
                (value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back()));
  if (!quote) return std::string(value);
  std::string out;
  out.reserve(value.size() + 2);
  out += '"';
  out += value;
  out += '"';
  return out;
}

std::string ApplyOne(std::string_view text, std::string_view section, std::string_view key,
                     const std::optional<std::string>& value) {
  std::vector<Line> lines = SplitLines(text);
  SectionRange r = FindSection(lines, section);
  const std::string_view eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::string entry;
  if (value) entry = std::string(key) + "=" + ValueText(*value);

  if (!r.found) {
    if (!value) return std::string(text);
    std::string out(text);
    if (!out.empty() && out.back() != '\n') out += eol;
    out += "[";
    out += section;
    out += "]";
    out += eol;
    out += entry;
    out += eol;
    return out;
  }

  std::vector<size_t> matches;
  for (size_t i = r.first; i < r.last; ++i)
    if (lines[i].kind == LineKind::kKey && EqualsNoCase(lines[i].name, key)) matches.push_back(i);

  std::string out;
  out.reserve(text.size() + entry.size() + 4);
  if (value && !matches.empty()) {
    // The first occurrence is the one readers see: rewrite it in place.
    const Line& l = lines[matches.front()];
    out.append(text.substr(0, l.begin));
    out += entry;
    out.append(text.substr(l.contentEnd));
    return out;
  }
  if (value) {
    // A new key goes after the last non-blank line of the section.
    size_t after = r.header;
    for (size_t i = r.first; i < r.last; ++i)
      if (lines[i].kind != LineKind::kBlank) after = i;
    const Line& l = lines[after];
    out.append(text.substr(0, l.end));
    if (l.end == l.contentEnd) out += eol;  // the last line had no line break
    out += entry;
    out += eol;
    out.append(text.substr(l.end));
    return out;
  }
  // Deleting removes every occurrence in the section, so that no later duplicate
  // comes into view in place of the default.
  size_t pos = 0;
  for (size_t i : matches) {
    out.append(text.substr(pos, lines[i].begin - pos));
    pos = lines[i].end;
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view text, std::string_view section,
                                     std::string_view key) {
  std::vector<Line> lines = SplitLines(text);
  SectionRange r = FindSection(lines, section);
  if (!r.found) return std::nullopt;
  std::string_view wanted = Trim(key);
  for (size_t i = r.first; i < r.last; ++i)
    if (lines[i].kind == LineKind::kKey && EqualsNoCase(lines[i].name, wanted))
      return std::string(lines[i].value);
  return std::nullopt;
}

bool IniEditWritable(std::string_view section, const IniEdit& edit) {
  const std::string& key = edit.first;
  if (section.empty() || Trim(section) != section || HasBreakOrNul(section) ||
      section.find(']') != std::string_view::npos)
    return false;
  if (key.empty() || Trim(key) != key || HasBreakOrNul(key) || key.find('=') != key.npos ||
      key.front() == ';' || key.front() == '[')
    return false;
  return !edit.second || !HasBreakOrNul(*edit.second);
}

std::string IniApply(std::string_view text, std::string_view section,
                     const std::vector<IniEdit>& edits) {
  std::string out(text);
  for (const IniEdit& edit : edits)
    if (IniEditWritable(section, edit)) out = ApplyOne(out, section, edit.first, edit.second);
  return out;
}

uint32_t IniParseInt(std::string_view value) {
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  uint32_t n = 0;  // wraps like the 32-bit reader it stands in for
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
    n = n * 10u + static_cast<uint32_t>(value[i] - '0');
  return negative ? 0u - n : n;
}

uint32_t IniGetInt(std::string_view text, std::string_view section, std::string_view key,
                   uint32_t def) {
  std::optional<std::string> v = IniLookup(text, section, key);
  if (!v || v->empty()) return def;
  return IniParseInt(*v);
}

std::string IniGetString(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view def, size_t size) {
  if (size == 0) return {};
  std::optional<std::string> v = IniLookup(text, section, key);
  std::string out = v ? std::move(*v) : std::string(def);
  if (out.size() > size - 1) out.resize(size - 1);
  return out;
}

uint32_t Profile::GetInt(const std::string& file, std::string_view section, std::string_view key,
                         uint32_t def) {
  std::optional<std::string> text = Load(file);
  return IniGetInt(text ? *text : std::string_view(), section, key, def);
}

std::string Profile::GetString(const std::string& file, std::string_view section,
                               std::string_view key, std::string_view def, size_t size) {
  std::optional<std::string> text = Load(file);
  return IniGetString(text ? *text : std::string_view(), section, key, def, size);
}

bool Profile::Write(const std::string& file, std::string_view section,
                    const std::vector<IniEdit>& edits) {
  for (const IniEdit& edit : edits)
    if (!IniEditWritable(section, edit)) return false;
  std::optional<std::string> text = Load(file);
  if (!text) return false;
  std::string next = IniApply(*text, section, edits);
  if (next == *text) return true;  // nothing to change: leave the file alone
  return Store(file, next);
}

namespace {

class FileProfile : public Profile {
 public:
  std::optional<std::string> Load(const std::string& file) override {
    std::string text;
    switch (ReadWholeFile(file, text, kMaxProfileBytes)) {
      case FileRead::kOk: return text;
      case FileRead::kMissing: return std::string();
      case FileRead::kFailed: break;
    }
    return std::nullopt;
  }
  bool Store(const std::string& file, const std::string& text) override {
    return ReplaceResolvedFile(file, text, 0644);
  }
  // The temporary files lie beside the name and, where it is a link, beside the
  // file it resolves to.
  void RemoveLeftovers(const std::string& file) override {
    RemoveLeftoverTemporariesOf(file);
    if (char* resolved = ::realpath(file.c_str(), nullptr)) {
      std::string target = resolved;
      ::free(resolved);
      if (target != file) RemoveLeftoverTemporariesOf(target);
    }
  }
};

}  // namespace

std::unique_ptr<Profile> MakeFileProfile() { return std::make_unique<FileProfile>(); }

std::optional<std::string> MemoryProfile::Load(const std::string& file) {
  auto it = files.find(file);
  return it == files.end() ? std::string() : it->second;
}

bool MemoryProfile::Store(const std::string& file, const std::string& text) {
  if (failWrites) return false;
  files[file] = text;
  return true;
}

}  // namespace torvane
