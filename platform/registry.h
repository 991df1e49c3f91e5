#pragma once
// The registry as the system uses it: two hives, keys named by backslash paths,
// values with Windows registry types. Key and value names match without regard
// to case and keep the case they were written with. Text values are held as
// ANSI (Windows-1252) bytes, as the system's text is everywhere else.
//
// On POSIX the registry is one text file in regedit's export format (see
// registry_file.h); on Windows it will be the real registry. Components receive
// a Registry& so that tests can hand them an in-memory one.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qz381::platform {

enum class Hive { kLocalMachine, kClassesRoot };

enum class RegType : uint32_t {
  kNone = 0,
  kSz = 1,
  kExpandSz = 2,
  kBinary = 3,
  kDword = 4,
  kDwordBigEndian = 5,
  kLink = 6,
  kMultiSz = 7,
  kQword = 11,
};

struct RegValue {
  RegType type = RegType::kNone;
  // kSz, kExpandSz, kLink: ANSI text without a terminator.
  // kDword: 4 bytes, little-endian (as Windows stores it).
  // kDwordBigEndian: the 4 bytes as stored.
  // anything else: the raw bytes.
  std::string data;

  static RegValue Text(std::string_view text, RegType type = RegType::kSz);
  static RegValue Dword(uint32_t value);
  bool operator==(const RegValue&) const = default;
};

// Every method may block briefly on a file lock held by another process; none
// blocks on another thread of this process for longer than one file operation.
// All methods are safe to call from any thread. A value name "" is the key's
// default value (written '@' in the file). Key paths have no leading hive name
// and no leading or trailing backslash ("Software\OLEforRetail\ServiceInfo").
class Registry {
 public:
  virtual ~Registry() = default;

  // kNotFound when the key or the value does not exist; kMalformed/kIoError when
  // the store cannot be read (the context names the file and line).
  virtual Status GetValue(Hive hive, std::string_view key, std::string_view name,
                          RegValue* out) = 0;
  // Creates missing keys along the path.
  virtual Status SetValue(Hive hive, std::string_view key, std::string_view name,
                          const RegValue& value) = 0;
  // kNotFound when there was nothing to delete.
  virtual Status DeleteValue(Hive hive, std::string_view key, std::string_view name) = 0;
  // Deletes the key with all its subkeys and values; kNotFound when missing.
  virtual Status DeleteKey(Hive hive, std::string_view key) = 0;
  virtual Status CreateKey(Hive hive, std::string_view key) = 0;
  // Ok when the key exists, kNotFound when not.
  virtual Status KeyExists(Hive hive, std::string_view key) = 0;
  // Names of the direct subkeys / values, in the order they were first written.
  virtual Status EnumSubkeys(Hive hive, std::string_view key, std::vector<std::string>* names) = 0;
  virtual Status EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) = 0;
};

// Reads text stored as REG_SZ, REG_EXPAND_SZ (not expanded) or REG_LINK;
// kWrongType for any other type. `out` is left unchanged on failure.
Status ReadText(Registry& reg, Hive hive, std::string_view key, std::string_view name,
                std::string* out);
// Reads a number stored as REG_DWORD or REG_DWORD_BIG_ENDIAN, the four bytes taken
// as stored; kWrongType for any other type. `out` is left unchanged on failure.
Status ReadNumber(Registry& reg, Hive hive, std::string_view key, std::string_view name,
                  uint32_t* out);

// The registry of this process: on POSIX the file named by QZ381_REGISTRY, else
// $XDG_CONFIG_HOME/qz381/registry.reg (or ~/.config/qz381/registry.reg). The
// variable is looked at on every call, so a program may point it elsewhere
// before it touches the registry.
Registry& DefaultRegistry();

// True for the operating system's own registry (Windows without
// QZ381_REGISTRY); a registry file, or any registry on POSIX, is not.
bool IsSystemRegistry(const Registry& registry);

// A registry kept in memory only (tests).
std::unique_ptr<Registry> NewMemoryRegistry();

// A registry backed by the export-format file at `path` (created on first write).
std::unique_ptr<Registry> OpenRegistryFile(std::string path);

// "HKEY_LOCAL_MACHINE" / "HKEY_CLASSES_ROOT".
const char* HiveName(Hive hive);

}  // namespace qz381::platform
