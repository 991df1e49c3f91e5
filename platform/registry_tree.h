#pragma once
// The registry held in memory: the two hives as trees of keys. Both the in-memory
// registry and the file store keep their contents in one; it does no locking of
// its own.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"

namespace qz381::platform {

// Registry names compare with ASCII case folding, as Windows does for the names
// the system uses.
bool NamesEqual(std::string_view a, std::string_view b);

// Error contexts: "HKLM\Software\X" and "HKLM\Software\X: value 'Port'".
std::string DescribeKey(Hive hive, std::string_view key);
std::string DescribeValue(Hive hive, std::string_view key, std::string_view name);

// The four bytes of a REG_DWORD as Windows stores them.
uint32_t LittleEndian32(std::string_view four_bytes);

struct RegKey {
  std::string name;  // as first written
  std::vector<std::pair<std::string, RegValue>> values;
  std::vector<RegKey> subkeys;

  RegValue* FindValue(std::string_view value_name);
  const RegValue* FindValue(std::string_view value_name) const;
  // Replaces the data of a value already there, keeping its name and position.
  void SetValue(std::string_view value_name, const RegValue& value);
  bool EraseValue(std::string_view value_name);
  RegKey* FindSubkey(std::string_view key_name);
  RegKey& FindOrAddSubkey(std::string_view key_name);
  bool EraseSubkey(std::string_view key_name);
};

class RegTree {
 public:
  // The Registry operations, with the same results. Paths and names that could
  // not be stored in a registry file (empty path components, line breaks, NUL)
  // give kInvalidArgument.
  Status GetValue(Hive hive, std::string_view key, std::string_view name, RegValue* out) const;
  Status SetValue(Hive hive, std::string_view key, std::string_view name, const RegValue& value);
  Status DeleteValue(Hive hive, std::string_view key, std::string_view name);
  Status DeleteKey(Hive hive, std::string_view key);
  Status CreateKey(Hive hive, std::string_view key);
  Status KeyExists(Hive hive, std::string_view key) const;
  Status EnumSubkeys(Hive hive, std::string_view key, std::vector<std::string>* names) const;
  Status EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) const;

  // "" is the hive's root key. nullptr when the key is missing or the path invalid.
  RegKey* Find(Hive hive, std::string_view key);
  const RegKey* Find(Hive hive, std::string_view key) const;
  RegKey* Create(Hive hive, std::string_view key);

  RegKey& Root(Hive hive) { return roots_[static_cast<int>(hive)]; }
  const RegKey& Root(Hive hive) const { return roots_[static_cast<int>(hive)]; }

  static bool IsValidKeyPath(std::string_view key);
  static bool IsValidValueName(std::string_view name);

 private:
  RegKey roots_[2];
};

// A Registry whose operations run on a RegTree; the subclass decides how the tree
// is guarded and where it comes from and goes to.
class TreeRegistry : public Registry {
 public:
  Status GetValue(Hive hive, std::string_view key, std::string_view name, RegValue* out) override;
  Status SetValue(Hive hive, std::string_view key, std::string_view name,
                  const RegValue& value) override;
  Status DeleteValue(Hive hive, std::string_view key, std::string_view name) override;
  Status DeleteKey(Hive hive, std::string_view key) override;
  Status CreateKey(Hive hive, std::string_view key) override;
  Status KeyExists(Hive hive, std::string_view key) override;
  Status EnumSubkeys(Hive hive, std::string_view key, std::vector<std::string>* names) override;
  Status EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) override;

 protected:
  using ReadOp = std::function<Status(const RegTree&)>;
  using WriteOp = std::function<Status(RegTree&)>;
  // Each runs `op` on the current tree and answers what it answers, or the reason
  // the tree could not be had (or, for a write, kept).
  virtual Status Read(const ReadOp& op) = 0;
  virtual Status Write(const WriteOp& op) = 0;
};

}  // namespace qz381::platform
