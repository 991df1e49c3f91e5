#include "platform/registry_tree.h"

#include <algorithm>

namespace qz381::platform {
namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool HasUnstorableChar(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

template <typename Range>
auto FindNamed(Range& range, std::string_view name, auto name_of) {
  return std::find_if(range.begin(), range.end(),
                      [&](const auto& item) { return NamesEqual(name_of(item), name); });
}

constexpr auto kValueName = [](const auto& entry) -> const std::string& { return entry.first; };
constexpr auto kKeyName = [](const RegKey& key) -> const std::string& { return key.name; };

Status InvalidPath(Hive hive, std::string_view key) {
  return Status::Fail(Outcome::kInvalidArgument, "bad key path: " + DescribeKey(hive, key));
}

Status MissingKey(Hive hive, std::string_view key) {
  return Status::Fail(Outcome::kNotFound, DescribeKey(hive, key));
}

Status MissingValue(Hive hive, std::string_view key, std::string_view name) {
  return Status::Fail(Outcome::kNotFound, DescribeValue(hive, key, name));
}

// Calls visit(component) for each backslash-separated component of a valid path.
template <typename Visit>
void ForEachComponent(std::string_view key, Visit visit) {
  while (!key.empty()) {
    const size_t slash = key.find('\\');
    if (!visit(key.substr(0, slash))) return;
    key = slash == std::string_view::npos ? std::string_view() : key.substr(slash + 1);
  }
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

std::string DescribeKey(Hive hive, std::string_view key) {
  std::string where = hive == Hive::kLocalMachine ? "HKLM" : "HKCR";
  if (!key.empty()) {
    where += '\\';
    where += key;
  }
  return where;
}

std::string DescribeValue(Hive hive, std::string_view key, std::string_view name) {
  return DescribeKey(hive, key) + ": value '" + std::string(name) + "'";
}

uint32_t LittleEndian32(std::string_view four_bytes) {
  uint32_t number = 0;
  for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(four_bytes[i]);
  return number;
}

RegValue* RegKey::FindValue(std::string_view value_name) {
  auto it = FindNamed(values, value_name, kValueName);
  return it == values.end() ? nullptr : &it->second;
}

void RegKey::SetValue(std::string_view value_name, const RegValue& value) {
  if (RegValue* existing = FindValue(value_name)) {
    *existing = value;
  } else {
    values.emplace_back(std::string(value_name), value);
  }
}

const RegValue* RegKey::FindValue(std::string_view value_name) const {
  return const_cast<RegKey*>(this)->FindValue(value_name);
}

bool RegKey::EraseValue(std::string_view value_name) {
  auto it = FindNamed(values, value_name, kValueName);
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

RegKey* RegKey::FindSubkey(std::string_view key_name) {
  auto it = FindNamed(subkeys, key_name, kKeyName);
  return it == subkeys.end() ? nullptr : &*it;
}

RegKey& RegKey::FindOrAddSubkey(std::string_view key_name) {
  if (RegKey* existing = FindSubkey(key_name)) return *existing;
  subkeys.push_back(RegKey{std::string(key_name), {}, {}});
  return subkeys.back();
}

bool RegKey::EraseSubkey(std::string_view key_name) {
  auto it = FindNamed(subkeys, key_name, kKeyName);
  if (it == subkeys.end()) return false;
  subkeys.erase(it);
  return true;
}

bool RegTree::IsValidKeyPath(std::string_view key) {
  if (HasUnstorableChar(key)) return false;
  bool valid = true;
  ForEachComponent(key, [&](std::string_view part) { return valid = !part.empty(); });
  return valid && (key.empty() || key.back() != '\\');
}

bool RegTree::IsValidValueName(std::string_view name) {
  return !HasUnstorableChar(name);
}

const RegKey* RegTree::Find(Hive hive, std::string_view key) const {
  return const_cast<RegTree*>(this)->Find(hive, key);
}

RegKey* RegTree::Find(Hive hive, std::string_view key) {
  if (!IsValidKeyPath(key)) return nullptr;
  RegKey* node = &Root(hive);
  ForEachComponent(key, [&](std::string_view part) { return (node = node->FindSubkey(part)); });
  return node;
}

RegKey* RegTree::Create(Hive hive, std::string_view key) {
  if (!IsValidKeyPath(key)) return nullptr;
  RegKey* node = &Root(hive);
  ForEachComponent(key, [&](std::string_view part) {
    node = &node->FindOrAddSubkey(part);
    return true;
  });
  return node;
}

Status RegTree::GetValue(Hive hive, std::string_view key, std::string_view name,
                         RegValue* out) const {
  if (!IsValidKeyPath(key)) return InvalidPath(hive, key);
  const RegKey* node = Find(hive, key);
  if (node == nullptr) return MissingKey(hive, key);
  const RegValue* value = node->FindValue(name);
  if (value == nullptr) return MissingValue(hive, key, name);
  *out = *value;
  return Status::Ok();
}

Status RegTree::SetValue(Hive hive, std::string_view key, std::string_view name,
                         const RegValue& value) {
  if (!IsValidValueName(name)) {
    return Status::Fail(Outcome::kInvalidArgument, DescribeKey(hive, key) + ": bad value name");
  }
  RegKey* node = Create(hive, key);
  if (node == nullptr) return InvalidPath(hive, key);
  node->SetValue(name, value);
  return Status::Ok();
}

Status RegTree::DeleteValue(Hive hive, std::string_view key, std::string_view name) {
  if (!IsValidKeyPath(key)) return InvalidPath(hive, key);
  RegKey* node = Find(hive, key);
  if (node == nullptr) return MissingKey(hive, key);
  return node->EraseValue(name) ? Status::Ok() : MissingValue(hive, key, name);
}

Status RegTree::DeleteKey(Hive hive, std::string_view key) {
  if (key.empty() || !IsValidKeyPath(key)) return InvalidPath(hive, key);
  const size_t slash = key.rfind('\\');
  RegKey* parent = Find(hive, slash == std::string_view::npos ? "" : key.substr(0, slash));
  const std::string_view leaf = slash == std::string_view::npos ? key : key.substr(slash + 1);
  if (parent == nullptr || !parent->EraseSubkey(leaf)) return MissingKey(hive, key);
  return Status::Ok();
}

Status RegTree::CreateKey(Hive hive, std::string_view key) {
  return Create(hive, key) != nullptr ? Status::Ok() : InvalidPath(hive, key);
}

Status RegTree::KeyExists(Hive hive, std::string_view key) const {
  if (!IsValidKeyPath(key)) return InvalidPath(hive, key);
  return Find(hive, key) != nullptr ? Status::Ok() : MissingKey(hive, key);
}

Status RegTree::EnumSubkeys(Hive hive, std::string_view key,
                            std::vector<std::string>* names) const {
  if (!IsValidKeyPath(key)) return InvalidPath(hive, key);
  const RegKey* node = Find(hive, key);
  if (node == nullptr) return MissingKey(hive, key);
  names->clear();
  for (const RegKey& sub : node->subkeys) names->push_back(sub.name);
  return Status::Ok();
}

Status RegTree::EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) const {
  if (!IsValidKeyPath(key)) return InvalidPath(hive, key);
  const RegKey* node = Find(hive, key);
  if (node == nullptr) return MissingKey(hive, key);
  names->clear();
  for (const auto& [name, value] : node->values) names->push_back(name);
  return Status::Ok();
}

Status TreeRegistry::GetValue(Hive hive, std::string_view key, std::string_view name,
                              RegValue* out) {
  return Read([&](const RegTree& tree) { return tree.GetValue(hive, key, name, out); });
}
Status TreeRegistry::SetValue(Hive hive, std::string_view key, std::string_view name,
                              const RegValue& value) {
  return Write([&](RegTree& tree) { return tree.SetValue(hive, key, name, value); });
}
Status TreeRegistry::DeleteValue(Hive hive, std::string_view key, std::string_view name) {
  return Write([&](RegTree& tree) { return tree.DeleteValue(hive, key, name); });
}
Status TreeRegistry::DeleteKey(Hive hive, std::string_view key) {
  return Write([&](RegTree& tree) { return tree.DeleteKey(hive, key); });
}
Status TreeRegistry::CreateKey(Hive hive, std::string_view key) {
  return Write([&](RegTree& tree) { return tree.CreateKey(hive, key); });
}
Status TreeRegistry::KeyExists(Hive hive, std::string_view key) {
  return Read([&](const RegTree& tree) { return tree.KeyExists(hive, key); });
}
Status TreeRegistry::EnumSubkeys(Hive hive, std::string_view key, std::vector<std::string>* names) {
  return Read([&](const RegTree& tree) { return tree.EnumSubkeys(hive, key, names); });
}
Status TreeRegistry::EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) {
  return Read([&](const RegTree& tree) { return tree.EnumValues(hive, key, names); });
}

}  // namespace qz381::platform
