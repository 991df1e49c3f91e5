#pragma once
// Test helper: writes expected printer bytes readably, as hex pairs and 'text'.
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

namespace qz381::output::testing {

// Hex("1B 21 08 'X'") is the four bytes 1B 21 08 58.
inline std::string Hex(std::string_view notation) {
  std::string out;
  for (size_t i = 0; i < notation.size();) {
    const char c = notation[i];
    if (c == '\'') {
      const size_t end = notation.find('\'', i + 1);
      if (end == std::string_view::npos) break;
      out.append(notation.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (std::isxdigit(static_cast<unsigned char>(c))) {
      out.push_back(static_cast<char>(std::stoi(std::string(notation.substr(i, 2)), nullptr, 16)));
      i += 2;
    } else {
      ++i;
    }
  }
  return out;
}

// Failure messages show bytes as hex so that a missing ESC is visible.
inline std::string ToHex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  return out;
}

}  // namespace qz381::output::testing
