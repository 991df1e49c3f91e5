#pragma once
// regedit's export format ("Windows Registry Editor Version 5.00"), the text form
// of the POSIX registry store. It is the format an administrator moves a device
// configuration with between Windows and Linux, so files regedit exports must
// read as they are, and files written here must import into regedit.
//
// Reading accepts UTF-8 with or without a byte-order mark, UTF-16LE with one (what
// regedit writes), and REGEDIT4 files, whose text and hex(2) data are ANSI. Lines
// may end in CRLF or LF. Hives are HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT (HKLM
// and HKCR also accepted). In a quoted string only \\ and \" are escapes; any
// other backslash is taken literally, as regedit does. Text in the file is
// converted to ANSI, so characters Windows-1252 lacks become '?'. A file of zero
// bytes is an empty registry (a freshly made temporary file, for example).
//
// Writing produces UTF-8 without a byte-order mark and CRLF line ends, as regedit
// lays a file out: hex data wrapped with a trailing backslash so no line passes
// 80 columns. A REG_SZ holding a line break or NUL cannot be quoted, so it is
// written as hex(1); a REG_DWORD that is not 4 bytes long as hex(4).
//
// In memory, REG_SZ, REG_EXPAND_SZ and REG_LINK are ANSI text without terminator;
// every other type, REG_MULTI_SZ included, keeps the bytes of the file as they are.
#include <string>
#include <string_view>

#include "platform/registry_tree.h"
#include "platform/status.h"

namespace qz381::platform {

// Applies the file's keys, values and deletions to `tree`. `origin` names the file
// in error contexts: kMalformed with "<origin>:<line>: <what>". After an error,
// `tree` holds whatever the lines before it made.
Status ParseRegFile(std::string_view bytes, std::string_view origin, RegTree* tree);

// The whole tree as a version 5.00 file. Keys without values are written too so
// that they survive; a hive's root key only when it has values.
std::string FormatRegFile(const RegTree& tree);

}  // namespace qz381::platform
