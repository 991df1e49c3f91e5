#pragma once
// Private-profile (INI) files with the Windows semantics the system relies on:
// sections and keys match without regard to case, text is read into a buffer of
// a given size (255 by default, so longer values are cut to 254 characters), a
// missing file, section or key gives the default, and numbers follow the C atoi
// rule (leading blanks, an optional sign, leading digits; none gives 0). Writes
// keep every other line of the file as it was.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace qz381::platform {

class IniFile {
 public:
  // Parses a whole file. kNotFound when it does not exist, kIoError when it cannot
  // be read. Any text parses: lines that are neither a section, a key=value pair,
  // nor a comment are kept and ignored, as Windows does.
  static Status Load(const std::string& path, IniFile* out);
  static IniFile Parse(std::string_view text);

  // Windows GetPrivateProfileString: the value with surrounding blanks removed
  // (and one pair of matching surrounding quotes), cut to buffer_size - 1.
  std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                        size_t buffer_size = 255) const;
  // Windows GetPrivateProfileInt, by the atoi rule; `def` when the key is missing.
  int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;
  bool HasKey(std::string_view section, std::string_view key) const;
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

  // nullopt deletes the key. Adds the section at the end when it is missing.
  void Set(std::string_view section, std::string_view key, std::optional<std::string_view> value);
  void DeleteSection(std::string_view section);
  std::string Serialize() const;
  // Writes atomically (temporary file, then rename).
  Status Save(const std::string& path) const;

 private:
  struct Line {
    std::string text;     // the line as written (without its line break)
    std::string section;  // section header name, when this line is one
    std::string key;      // key, when this line is a key=value pair
    std::string value;
    enum Kind { kOther, kSection, kPair } kind = kOther;
  };
  static Line ParseLine(std::string_view text);
  // [header, end) of the first section of that name; header == npos when missing.
  std::pair<size_t, size_t> FindSection(std::string_view section) const;
  const Line* FindPair(std::string_view section, std::string_view key) const;
  // A new line in the file's own line-break style.
  Line MakeLine(std::string text) const;
  void InsertLine(size_t at, Line line);

  std::vector<Line> lines_;
  bool final_line_break_ = true;
  bool crlf_ = false;  // new lines follow the file's own line breaks
};

// One-call forms over a file path, as the Win32 functions are used.
std::string GetPrivateProfileText(const std::string& path, std::string_view section,
                                  std::string_view key, std::string_view def,
                                  size_t buffer_size = 255);
int32_t GetPrivateProfileNumber(const std::string& path, std::string_view section,
                                std::string_view key, int32_t def);
Status WritePrivateProfileText(const std::string& path, std::string_view section,
                               std::string_view key, std::optional<std::string_view> value);

// C atoi over a string_view (never reads past the end); values beyond 32 bits clamp
// to INT32_MIN / INT32_MAX, as the Microsoft C runtime does.
int32_t Atoi(std::string_view text);

}  // namespace qz381::platform
