#include "platform/profile.h"

#include <algorithm>

#include "platform/files.h"

namespace qz381::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr size_t kNone = std::string::npos;

std::string_view Trim(std::string_view s) {
  size_t first = s.find_first_not_of(kBlanks);
  if (first == kNone) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII folding only: names in our files are ASCII, and folding other bytes would
// depend on a code page.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

IniFile::Line IniFile::ParseLine(std::string_view text) {
  Line line;
  line.text = std::string(text);
  std::string_view s = Trim(text.substr(text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0));
  if (s.empty() || s.front() == ';') return line;
  if (s.front() == '[') {
    size_t close = s.find(']');
    if (close == kNone) return line;
    line.kind = Line::kSection;
    line.section = std::string(Trim(s.substr(1, close - 1)));
    return line;
  }
  size_t eq = s.find('=');
  if (eq == kNone) return line;
  std::string_view key = Trim(s.substr(0, eq));
  if (key.empty()) return line;
  line.kind = Line::kPair;
  line.key = std::string(key);
  line.value = std::string(Unquote(Trim(s.substr(eq + 1))));
  return line;
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == kNone) {
      ini.lines_.push_back(ParseLine(text.substr(pos)));
      ini.final_line_break_ = false;
      break;
    }
    ini.lines_.push_back(ParseLine(text.substr(pos, end - pos)));
    if (pos == 0) ini.crlf_ = end > 0 && text[end - 1] == '\r';
    pos = end + 1;
  }
  return ini;
}

Status IniFile::Load(const std::string& path, IniFile* out) {
  std::string text;
  Status status = ReadWholeFile(path, &text);
  if (status.ok()) *out = Parse(text);
  return status;
}

std::pair<size_t, size_t> IniFile::FindSection(std::string_view section) const {
  size_t header = kNone;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Line::kSection) continue;
    if (header != kNone) return {header, i};
    if (SameName(lines_[i].section, section)) header = i;
  }
  return {header, lines_.size()};
}

// A repeated section or key is shadowed by the first one, as on Windows.
const IniFile::Line* IniFile::FindPair(std::string_view section, std::string_view key) const {
  auto [header, end] = FindSection(section);
  if (header == kNone) return nullptr;
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == Line::kPair && SameName(lines_[i].key, key)) return &lines_[i];
  }
  return nullptr;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view def,
                               size_t buffer_size) const {
  const Line* pair = FindPair(section, key);
  // Windows strips trailing blanks from the default too.
  std::string_view value =
      pair ? std::string_view(pair->value) : def.substr(0, def.find_last_not_of(kBlanks) + 1);
  if (buffer_size == 0) return {};
  return std::string(value.substr(0, buffer_size - 1));
}

int32_t IniFile::GetInt(std::string_view section, std::string_view key, int32_t def) const {
  // An empty value counts as missing: Windows reads no text and so answers the default.
  const Line* pair = FindPair(section, key);
  return pair && !pair->value.empty() ? Atoi(pair->value) : def;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const {
  return FindPair(section, key) != nullptr;
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    if (line.kind != Line::kSection) continue;
    auto same = [&](const std::string& n) { return SameName(n, line.section); };
    if (std::none_of(names.begin(), names.end(), same)) names.push_back(line.section);
  }
  return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  auto [header, end] = FindSection(section);
  if (header == kNone) return keys;
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind != Line::kPair) continue;
    auto same = [&](const std::string& k) { return SameName(k, lines_[i].key); };
    if (std::none_of(keys.begin(), keys.end(), same)) keys.push_back(lines_[i].key);
  }
  return keys;
}

IniFile::Line IniFile::MakeLine(std::string text) const {
  if (crlf_) text += '\r';
  return ParseLine(text);
}

void IniFile::InsertLine(size_t at, Line line) {
  // A file that ended without a line break gets one once we add after its end.
  if (at == lines_.size()) final_line_break_ = true;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void IniFile::Set(std::string_view section, std::string_view key,
                  std::optional<std::string_view> value) {
  auto [header, end] = FindSection(section);
  if (header == kNone) {
    if (!value) return;
    if (!lines_.empty() && !Trim(lines_.back().text).empty())
      InsertLine(lines_.size(), MakeLine(""));
    InsertLine(lines_.size(), MakeLine("[" + std::string(section) + "]"));
    InsertLine(lines_.size(), MakeLine(std::string(key) + "=" + std::string(*value)));
    return;
  }
  if (!value) {
    // Every copy goes, so that a shadowed duplicate does not surface.
    auto first = lines_.begin() + static_cast<std::ptrdiff_t>(header + 1);
    auto last = lines_.begin() + static_cast<std::ptrdiff_t>(end);
    lines_.erase(std::remove_if(
                     first, last,
                     [&](const Line& l) { return l.kind == Line::kPair && SameName(l.key, key); }),
                 last);
    return;
  }
  // A new key goes after the section's last pair, so that blank lines and the
  // comments that introduce the next section stay where they are.
  size_t insert_at = header + 1;
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind != Line::kPair) continue;
    if (SameName(lines_[i].key, key)) {
      lines_[i] = MakeLine(lines_[i].key + "=" + std::string(*value));
      return;
    }
    insert_at = i + 1;
  }
  InsertLine(insert_at, MakeLine(std::string(key) + "=" + std::string(*value)));
}

void IniFile::DeleteSection(std::string_view section) {
  for (;;) {
    auto [header, end] = FindSection(section);
    if (header == kNone) return;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

std::string IniFile::Serialize() const {
  std::string out;
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i].text;
    if (i + 1 < lines_.size() || final_line_break_) out += '\n';
  }
  return out;
}

Status IniFile::Save(const std::string& path) const {
  return WriteFileAtomically(path, Serialize());
}

std::string GetPrivateProfileText(const std::string& path, std::string_view section,
                                  std::string_view key, std::string_view def, size_t buffer_size) {
  IniFile ini;
  IniFile::Load(path, &ini);  // an unreadable file reads as an empty one, as on Windows
  return ini.GetString(section, key, def, buffer_size);
}

int32_t GetPrivateProfileNumber(const std::string& path, std::string_view section,
                                std::string_view key, int32_t def) {
  IniFile ini;
  IniFile::Load(path, &ini);
  return ini.GetInt(section, key, def);
}

Status WritePrivateProfileText(const std::string& path, std::string_view section,
                               std::string_view key, std::optional<std::string_view> value) {
  IniFile ini;
  Status status = IniFile::Load(path, &ini);
  if (status.outcome() == Outcome::kNotFound) {
    if (!value) return Status::Ok();  // nothing to delete; do not create the file
  } else if (!status.ok()) {
    return status;
  }
  ini.Set(section, key, value);
  return ini.Save(path);
}

int32_t Atoi(std::string_view text) {
  constexpr int64_t kLimit = int64_t{1} << 31;  // |INT32_MIN|
  size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == kNone) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
  }
  return static_cast<int32_t>(negative ? -magnitude : std::min(magnitude, kLimit - 1));
}

}  // namespace qz381::platform
