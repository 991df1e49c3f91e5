#pragma once
// Conversions between the system's ANSI text (Windows-1252, the code page of the
// original Windows target) and Unicode. Characters that have no ANSI form become
// '?', as WideCharToMultiByte does with its default character. Invalid UTF-8 or
// UTF-16 sequences become '?' too; nothing is ever read past the input.
#include <string>
#include <string_view>

namespace qz381::platform {

std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view utf16);

}  // namespace qz381::platform
