#include "platform/registry.h"

#include <mutex>

#include "platform/registry_tree.h"

namespace qz381::platform {

RegValue RegValue::Text(std::string_view text, RegType type) {
  return {type, std::string(text)};
}

RegValue RegValue::Dword(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return {RegType::kDword, std::move(bytes)};
}

const char* HiveName(Hive hive) {
  return hive == Hive::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
}

Status ReadText(Registry& reg, Hive hive, std::string_view key, std::string_view name,
                std::string* out) {
  RegValue value;
  Status status = reg.GetValue(hive, key, name, &value);
  if (!status.ok()) return status;
  if (value.type != RegType::kSz && value.type != RegType::kExpandSz &&
      value.type != RegType::kLink) {
    return Status::Fail(Outcome::kWrongType, std::string(HiveShortName(hive)) + "\\" +
                                                 std::string(key) + ": value '" +
                                                 std::string(name) + "' is not text");
  }
  *out = std::move(value.data);
  return Status::Ok();
}

// Both number types are read as the four bytes lie in memory, little-endian, the
// way the Windows API hands a REG_DWORD_BIG_ENDIAN to a caller that does not swap
// it: the system stores nothing big-endian that it reads as a number.
Status ReadNumber(Registry& reg, Hive hive, std::string_view key, std::string_view name,
                  uint32_t* out) {
  RegValue value;
  Status status = reg.GetValue(hive, key, name, &value);
  if (!status.ok()) return status;
  const std::string where =
      std::string(HiveShortName(hive)) + "\\" + std::string(key) + ": value '" + std::string(name);
  if (value.type != RegType::kDword && value.type != RegType::kDwordBigEndian) {
    return Status::Fail(Outcome::kWrongType, where + "' is not a number");
  }
  if (value.data.size() != 4) {
    return Status::Fail(Outcome::kMalformed,
                        where + "' has " + std::to_string(value.data.size()) + " bytes, not 4");
  }
  uint32_t number = 0;
  for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
  *out = number;
  return Status::Ok();
}

namespace {

class MemoryRegistry final : public Registry {
 public:
  Status GetValue(Hive hive, std::string_view key, std::string_view name, RegValue* out) override {
    std::lock_guard lock(mutex_);
    return tree_.GetValue(hive, key, name, out);
  }
  Status SetValue(Hive hive, std::string_view key, std::string_view name,
                  const RegValue& value) override {
    std::lock_guard lock(mutex_);
    return tree_.SetValue(hive, key, name, value);
  }
  Status DeleteValue(Hive hive, std::string_view key, std::string_view name) override {
    std::lock_guard lock(mutex_);
    return tree_.DeleteValue(hive, key, name);
  }
  Status DeleteKey(Hive hive, std::string_view key) override {
    std::lock_guard lock(mutex_);
    return tree_.DeleteKey(hive, key);
  }
  Status CreateKey(Hive hive, std::string_view key) override {
    std::lock_guard lock(mutex_);
    return tree_.CreateKey(hive, key);
  }
  Status KeyExists(Hive hive, std::string_view key) override {
    std::lock_guard lock(mutex_);
    return tree_.KeyExists(hive, key);
  }
  Status EnumSubkeys(Hive hive, std::string_view key, std::vector<std::string>* names) override {
    std::lock_guard lock(mutex_);
    return tree_.EnumSubkeys(hive, key, names);
  }
  Status EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) override {
    std::lock_guard lock(mutex_);
    return tree_.EnumValues(hive, key, names);
  }

 private:
  std::mutex mutex_;
  RegTree tree_;
};

}  // namespace

std::unique_ptr<Registry> NewMemoryRegistry() {
  return std::make_unique<MemoryRegistry>();
}

}  // namespace qz381::platform
