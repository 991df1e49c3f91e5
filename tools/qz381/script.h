#pragma once
// `qz381 script`: one OPOS call per line, for tests and support staff.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace qz381::tool {

// One word of a script line: a bare word or a double-quoted string with the C
// escapes \n \r \t \\ \" \xHH (quoted words may hold any byte, NUL included).
struct Token {
  std::string text;
  bool quoted = false;
};

// Splits a line into tokens; nullopt and `error` on an unterminated string or a
// bad escape.
std::optional<std::vector<Token>> Tokenize(std::string_view line, std::string* error);
// The printed form of a string value: quoted, with the same escapes.
std::string Quote(std::string_view text);
// Decimal (or 0x hexadecimal) 32-bit number, optionally signed.
std::optional<int32_t> ParseNumber(std::string_view text);

// Runs a script to its end; results and events go to `out`, one flushed line
// each. Answers 0 when the script ran to its end, 2 after a syntax error or an
// unknown command word (the message, naming the line, goes to `err`).
int RunScript(std::istream& in, std::ostream& out, std::ostream& err,
              platform::Registry& registry = platform::DefaultRegistry());

}  // namespace qz381::tool
