#include "platform/registry_file.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/codepage.h"

namespace qz381::platform {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kCrLf = "\r\n";
constexpr size_t kMaxLineWidth = 80;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && NamesEqual(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits, nothing else.
std::optional<uint32_t> ParseHex32(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return value;
}

bool IsTextType(RegType type) {
  return type == RegType::kSz || type == RegType::kExpandSz || type == RegType::kLink;
}

// Whole code units only; an odd last byte is left for the caller to judge.
std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

// The file's text as ANSI, whatever encoding it came in.
struct DecodedFile {
  std::string text;
  bool hex_text_is_ansi = false;  // REGEDIT4 stores hex(2) and friends as ANSI bytes
};

DecodedFile Decode(std::string_view bytes) {
  DecodedFile file;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    file.text = Utf16ToAnsi(FromUtf16Le(bytes.substr(2)));
    if (bytes.size() % 2 != 0) file.text.push_back('?');
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    file.text = Utf8ToAnsi(bytes.substr(3));
  } else if (bytes.substr(0, kHeader4.size()) == kHeader4) {
    file.text = std::string(bytes);
  } else {
    file.text = Utf8ToAnsi(bytes);
  }
  file.hex_text_is_ansi = file.text.substr(0, kHeader4.size()) == kHeader4;
  return file;
}

class Parser {
 public:
  Parser(std::string_view text, std::string_view origin, bool hex_text_is_ansi, RegTree* tree)
      : text_(text), origin_(origin), hex_text_is_ansi_(hex_text_is_ansi), tree_(tree) {}

  Status Run() {
    if (!NextLine()) return Error("missing header");
    const std::string_view header = Trim(line_);
    if (header != kHeader5 && header != kHeader4) return Error("not a registry file header");
    while (NextLine()) {
      const std::string_view line = Trim(line_);
      Status status = Status::Ok();
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        status = KeyLine(line);
      } else if (line.front() == '"' || line.front() == '@') {
        status = ValueLine(line);
      } else {
        status = Error("not a key, value or comment");
      }
      if (!status.ok()) return status;
    }
    return Status::Ok();
  }

 private:
  bool NextLine() {
    if (pos_ > text_.size()) return false;
    const size_t end = text_.find('\n', pos_);
    line_ = text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
    pos_ = end == std::string_view::npos ? text_.size() + 1 : end + 1;
    ++line_number_;
    return true;
  }

  Status Error(std::string_view what) const {
    return Status::Fail(
        Outcome::kMalformed,
        std::string(origin_) + ":" + std::to_string(line_number_) + ": " + std::string(what));
  }

  Status KeyLine(std::string_view line) {
    if (line.back() != ']') return Error("key line does not end in ']'");
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) path.remove_prefix(1);

    const size_t slash = path.find('\\');
    const std::string_view hive_name = path.substr(0, slash);
    const std::string_view key =
        slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    Hive hive;
    if (NamesEqual(hive_name, "HKEY_LOCAL_MACHINE") || NamesEqual(hive_name, "HKLM")) {
      hive = Hive::kLocalMachine;
    } else if (NamesEqual(hive_name, "HKEY_CLASSES_ROOT") || NamesEqual(hive_name, "HKCR")) {
      hive = Hive::kClassesRoot;
    } else {
      return Error("unknown hive '" + std::string(hive_name) + "'");
    }
    if (!RegTree::IsValidKeyPath(key) || (slash != std::string_view::npos && key.empty())) {
      return Error("bad key name");
    }
    current_ = nullptr;
    if (remove) {
      if (key.empty()) return Error("a hive cannot be deleted");
      tree_->DeleteKey(hive, key);  // deleting what is not there is no error
    } else {
      current_ = tree_->Create(hive, key);
    }
    return Status::Ok();
  }

  // Reads a quoted string starting at the opening quote; leaves `rest` after the
  // closing one.
  Status QuotedString(std::string_view* rest, std::string* out) {
    std::string_view s = rest->substr(1);
    out->clear();
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '"') {
        *rest = s.substr(i + 1);
        return Status::Ok();
      }
      if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) ++i;
      out->push_back(s[i]);
    }
    return Error("unterminated string");
  }

  Status ValueLine(std::string_view line) {
    if (current_ == nullptr) return Error("value outside any key");
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else {
      if (Status s = QuotedString(&line, &name); !s.ok()) return s;
      if (!RegTree::IsValidValueName(name)) return Error("bad value name");
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') return Error("expected '=' after the value name");
    line = TrimLeft(line.substr(1));

    RegValue value;
    if (line == "-") {
      current_->EraseValue(name);
      return Status::Ok();
    }
    if (!line.empty() && line.front() == '"') {
      value.type = RegType::kSz;
      if (Status s = QuotedString(&line, &value.data); !s.ok()) return s;
      if (!Trim(line).empty()) return Error("text after the closing quote");
    } else if (StartsWithNoCase(line, "dword:")) {
      const std::optional<uint32_t> number = ParseHex32(line.substr(6));
      if (!number) return Error("bad dword");
      value = RegValue::Dword(*number);
    } else if (StartsWithNoCase(line, "hex")) {
      if (Status s = HexValue(line.substr(3), &value); !s.ok()) return s;
    } else {
      return Error("unknown value type");
    }
    current_->SetValue(name, value);
    return Status::Ok();
  }

  // After "hex": either ":" (REG_BINARY) or "(N):", then bytes over one or more lines.
  Status HexValue(std::string_view rest, RegValue* value) {
    value->type = RegType::kBinary;
    if (!rest.empty() && rest.front() == '(') {
      const size_t close = rest.find(')');
      const std::optional<uint32_t> type =
          close == std::string_view::npos ? std::nullopt : ParseHex32(rest.substr(1, close - 1));
      if (!type) return Error("bad hex(type)");
      value->type = static_cast<RegType>(*type);
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') return Error("expected ':' after hex");
    rest.remove_prefix(1);

    std::string bytes;
    for (;;) {
      rest = Trim(rest);
      const bool continued = !rest.empty() && rest.back() == '\\';
      if (continued) rest = Trim(rest.substr(0, rest.size() - 1));
      if (Status s = HexBytes(rest, &bytes); !s.ok()) return s;
      if (!continued) break;
      if (!NextLine()) return Error("hex data continues past the end of the file");
      rest = line_;
    }

    if (!IsTextType(value->type)) {
      value->data = std::move(bytes);
    } else if (hex_text_is_ansi_) {
      if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
      value->data = std::move(bytes);
    } else {
      if (bytes.size() % 2 != 0) return Error("UTF-16 text of odd length");
      std::u16string units = FromUtf16Le(bytes);
      if (!units.empty() && units.back() == 0) units.pop_back();
      value->data = Utf16ToAnsi(units);
    }
    return Status::Ok();
  }

  // One line's share of comma-separated bytes; a trailing comma is allowed.
  Status HexBytes(std::string_view list, std::string* bytes) {
    while (!list.empty()) {
      const size_t comma = list.find(',');
      const std::string_view token = Trim(list.substr(0, comma));
      const std::optional<uint32_t> byte = token.size() <= 2 ? ParseHex32(token) : std::nullopt;
      if (!byte) return Error("bad hex byte '" + std::string(token) + "'");
      bytes->push_back(static_cast<char>(*byte));
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return Status::Ok();
  }

  std::string_view text_;
  std::string_view origin_;
  bool hex_text_is_ansi_;
  RegTree* tree_;
  size_t pos_ = 0;
  std::string_view line_;
  int line_number_ = 0;
  RegKey* current_ = nullptr;
};

// --- writing ---

void AppendQuoted(std::string_view ansi, std::string* out) {
  out->push_back('"');
  for (char c : AnsiToUtf8(ansi)) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// `column` is where the data starts on the current line.
void AppendHexBytes(std::string_view bytes, size_t column, std::string* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    // Room for "xx," and a continuation backslash.
    if (i > 0 && column + 4 > kMaxLineWidth) {
      out->append("\\\r\n  ");
      column = 2;
    }
    const auto b = static_cast<unsigned char>(bytes[i]);
    out->push_back(kDigits[b >> 4]);
    out->push_back(kDigits[b & 0xF]);
    column += 2;
    if (i + 1 < bytes.size()) {
      out->push_back(',');
      ++column;
    }
  }
}

std::string Utf16Bytes(std::string_view ansi) {
  std::string bytes;
  for (char16_t unit : AnsiToUtf16(ansi)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  bytes.append(2, '\0');
  return bytes;
}

void AppendValue(std::string_view name, const RegValue& value, std::string* out) {
  const size_t line_start = out->size();
  if (name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(name, out);
  }
  out->push_back('=');

  const bool quotable =
      value.data.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
  if (value.type == RegType::kSz && quotable) {
    AppendQuoted(value.data, out);
  } else if (value.type == RegType::kDword && value.data.size() == 4) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", LittleEndian32(value.data));
    out->append(digits);
  } else {
    const std::string bytes = IsTextType(value.type) ? Utf16Bytes(value.data) : value.data;
    if (value.type == RegType::kBinary) {
      out->append("hex:");
    } else {
      char prefix[24];
      std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
      out->append(prefix);
    }
    AppendHexBytes(bytes, out->size() - line_start, out);
  }
  out->append(kCrLf);
}

void AppendKey(const RegKey& key, const std::string& path, bool is_root, std::string* out) {
  if (!is_root || !key.values.empty()) {
    out->append("[" + AnsiToUtf8(path) + "]");
    out->append(kCrLf);
    for (const auto& [name, value] : key.values) AppendValue(name, value, out);
    out->append(kCrLf);
  }
  for (const RegKey& sub : key.subkeys) AppendKey(sub, path + "\\" + sub.name, false, out);
}

}  // namespace

Status ParseRegFile(std::string_view bytes, std::string_view origin, RegTree* tree) {
  if (bytes.empty()) return Status::Ok();
  const DecodedFile file = Decode(bytes);
  return Parser(file.text, origin, file.hex_text_is_ansi, tree).Run();
}

std::string FormatRegFile(const RegTree& tree) {
  std::string out(kHeader5);
  out.append(kCrLf);
  out.append(kCrLf);
  for (Hive hive : {Hive::kLocalMachine, Hive::kClassesRoot}) {
    AppendKey(tree.Root(hive), HiveName(hive), true, &out);
  }
  return out;
}

}  // namespace qz381::platform
