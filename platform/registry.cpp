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
    return Status::Fail(Outcome::kWrongType, DescribeValue(hive, key, name) + " is not text");
  }
  *out = std::move(value.data);
  return Status::Ok();
}

// Both number types are read as the four bytes lie, little-endian, the way the
// Windows API hands a REG_DWORD_BIG_ENDIAN to a caller that does not swap it:
// nothing the system reads as a number is stored big-endian.
Status ReadNumber(Registry& reg, Hive hive, std::string_view key, std::string_view name,
                  uint32_t* out) {
  RegValue value;
  Status status = reg.GetValue(hive, key, name, &value);
  if (!status.ok()) return status;
  if (value.type != RegType::kDword && value.type != RegType::kDwordBigEndian) {
    return Status::Fail(Outcome::kWrongType, DescribeValue(hive, key, name) + " is not a number");
  }
  if (value.data.size() != 4) {
    return Status::Fail(Outcome::kMalformed, DescribeValue(hive, key, name) + " has " +
                                                 std::to_string(value.data.size()) +
                                                 " bytes, not 4");
  }
  *out = LittleEndian32(value.data);
  return Status::Ok();
}

namespace {

class MemoryRegistry final : public TreeRegistry {
 protected:
  Status Read(const ReadOp& op) override {
    std::lock_guard lock(mutex_);
    return op(tree_);
  }
  Status Write(const WriteOp& op) override {
    std::lock_guard lock(mutex_);
    return op(tree_);
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
