// The registry on Windows: the system's own (HKEY_LOCAL_MACHINE,
// HKEY_CLASSES_ROOT) through the ANSI registry functions, whose text is the
// system code page as the rest of the system's text is. A process that names a
// registry file in QZ381_REGISTRY uses that file instead, as on POSIX: the
// tests and a build-folder run never touch the machine's registry that way.
//
// The file store serialises writers with LockFileEx on a sibling "<path>.lock"
// (the file itself is replaced by rename on every write) and re-reads the file
// on every operation: the service reads the registry a few times per open.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "platform/registry_tree.h"
#include "platform/win32/win32_text.h"

namespace qz381::platform {
namespace {

HKEY RootOf(Hive hive) {
  return hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
}

class ScopedKey {
 public:
  ~ScopedKey() {
    if (key_) ::RegCloseKey(key_);
  }
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

Status Fail(LONG code, Hive hive, std::string_view key, std::string_view name = {},
            bool is_value = false) {
  return win32::Fail(static_cast<DWORD>(code),
                     is_value ? DescribeValue(hive, key, name) : DescribeKey(hive, key));
}

class SystemRegistry final : public Registry {
 public:
  Status GetValue(Hive hive, std::string_view key, std::string_view name, RegValue* out) override {
    ScopedKey k;
    const std::string path(key), value_name(name);
    LONG rc = ::RegOpenKeyExA(RootOf(hive), path.c_str(), 0, KEY_QUERY_VALUE, k.out());
    if (rc != ERROR_SUCCESS) return Fail(rc, hive, key);
    DWORD type = 0, size = 0;
    rc = ::RegQueryValueExA(k.get(), value_name.c_str(), nullptr, &type, nullptr, &size);
    std::string data;
    // Another writer may grow the value between the two calls.
    for (int attempt = 0; rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA; ++attempt) {
      data.assign(size, '\0');
      rc = ::RegQueryValueExA(k.get(), value_name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
      if (rc == ERROR_SUCCESS) break;
      if (attempt > 3) break;
    }
    if (rc != ERROR_SUCCESS) return Fail(rc, hive, key, name, true);
    data.resize(size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      // Stored with its terminator, or without when a careless writer left it off.
      const size_t end = data.find('\0');
      if (end != std::string::npos) data.resize(end);
    }
    out->type = static_cast<RegType>(type);
    out->data = std::move(data);
    return Status::Ok();
  }

  Status SetValue(Hive hive, std::string_view key, std::string_view name,
                  const RegValue& value) override {
    if (!RegTree::IsValidKeyPath(key)) {
      return Status::Fail(Outcome::kInvalidArgument, DescribeKey(hive, key) + ": bad key path");
    }
    ScopedKey k;
    const std::string path(key), value_name(name);
    LONG rc = ::RegCreateKeyExA(RootOf(hive), path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                k.out(), nullptr);
    if (rc != ERROR_SUCCESS) return Fail(rc, hive, key);
    std::string data = value.data;
    if (value.type == RegType::kSz || value.type == RegType::kExpandSz) data.push_back('\0');
    rc = ::RegSetValueExA(k.get(), value_name.c_str(), 0, static_cast<DWORD>(value.type),
                          reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size()));
    return rc == ERROR_SUCCESS ? Status::Ok() : Fail(rc, hive, key, name, true);
  }

  Status DeleteValue(Hive hive, std::string_view key, std::string_view name) override {
    ScopedKey k;
    const std::string path(key), value_name(name);
    LONG rc = ::RegOpenKeyExA(RootOf(hive), path.c_str(), 0, KEY_SET_VALUE, k.out());
    if (rc != ERROR_SUCCESS) return Fail(rc, hive, key);
    rc = ::RegDeleteValueA(k.get(), value_name.c_str());
    return rc == ERROR_SUCCESS ? Status::Ok() : Fail(rc, hive, key, name, true);
  }

  Status DeleteKey(Hive hive, std::string_view key) override {
    // An empty path would name the hive itself.
    if (key.empty()) {
      return Status::Fail(Outcome::kInvalidArgument, DescribeKey(hive, key) + ": no key named");
    }
    const std::string path(key);
    const LONG rc = ::RegDeleteTreeA(RootOf(hive), path.c_str());
    return rc == ERROR_SUCCESS ? Status::Ok() : Fail(rc, hive, key);
  }

  Status CreateKey(Hive hive, std::string_view key) override {
    if (!RegTree::IsValidKeyPath(key)) {
      return Status::Fail(Outcome::kInvalidArgument, DescribeKey(hive, key) + ": bad key path");
    }
    ScopedKey k;
    const std::string path(key);
    const LONG rc = ::RegCreateKeyExA(RootOf(hive), path.c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                                      k.out(), nullptr);
    return rc == ERROR_SUCCESS ? Status::Ok() : Fail(rc, hive, key);
  }

  Status KeyExists(Hive hive, std::string_view key) override {
    ScopedKey k;
    const std::string path(key);
    const LONG rc = ::RegOpenKeyExA(RootOf(hive), path.c_str(), 0, KEY_READ, k.out());
    return rc == ERROR_SUCCESS ? Status::Ok() : Fail(rc, hive, key);
  }

  Status EnumSubkeys(Hive hive, std::string_view key, std::vector<std::string>* names) override {
    return Enumerate(hive, key, names, true);
  }

  Status EnumValues(Hive hive, std::string_view key, std::vector<std::string>* names) override {
    return Enumerate(hive, key, names, false);
  }

 private:
  static Status Enumerate(Hive hive, std::string_view key, std::vector<std::string>* names,
                          bool subkeys) {
    ScopedKey k;
    const std::string path(key);
    LONG rc = ::RegOpenKeyExA(RootOf(hive), path.c_str(), 0, KEY_READ, k.out());
    if (rc != ERROR_SUCCESS) return Fail(rc, hive, key);
    std::vector<std::string> found;
    for (DWORD index = 0;; ++index) {
      char name[16384];  // the longest value name the registry allows, plus one
      DWORD length = sizeof name;
      rc = subkeys
               ? ::RegEnumKeyExA(k.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr)
               : ::RegEnumValueA(k.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) return Fail(rc, hive, key);
      found.emplace_back(name, length);
    }
    *names = std::move(found);
    return Status::Ok();
  }
};

class FileRegistry final : public TreeRegistry {
 public:
  explicit FileRegistry(std::string path) : path_(std::move(path)) {}

 protected:
  Status Read(const ReadOp& op) override {
    std::lock_guard lock(mutex_);
    RegTree tree;
    Status status = Load(&tree);
    return status.ok() ? op(tree) : status;
  }

  Status Write(const WriteOp& op) override {
    std::lock_guard lock(mutex_);
    const size_t slash = path_.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0) {
      Status status = MakeDirectories(path_.substr(0, slash));
      if (!status.ok()) return status;
    }
    const std::string lock_path = path_ + ".lock";
    HANDLE lock_file = ::CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock_file == INVALID_HANDLE_VALUE) {
      return win32::Fail(::GetLastError(), "open " + lock_path);
    }
    OVERLAPPED whole = {};
    if (!::LockFileEx(lock_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(lock_file);
      return win32::Fail(error, "lock " + lock_path);
    }
    RegTree tree;
    Status status = Load(&tree);
    // A file that does not parse is left alone for a person to mend, not replaced.
    if (status.ok()) {
      status = op(tree);
      if (status.ok()) {
        Status written = WriteFileAtomically(path_, FormatRegFile(tree));
        if (!written.ok()) status = written;
      }
    }
    ::UnlockFileEx(lock_file, 0, 1, 0, &whole);
    ::CloseHandle(lock_file);
    return status;
  }

 private:
  // A missing file is an empty registry.
  Status Load(RegTree* tree) const {
    std::string bytes;
    Status status = ReadWholeFile(path_, &bytes);
    if (status.outcome() == Outcome::kNotFound) return Status::Ok();
    return status.ok() ? ParseRegFile(bytes, path_, tree) : status;
  }

  const std::string path_;
  std::mutex mutex_;
};

SystemRegistry& TheSystemRegistry() {
  // Never destroyed: components may still hold the reference while static
  // destructors run.
  static auto* const system = new SystemRegistry;
  return *system;
}

}  // namespace

std::unique_ptr<Registry> OpenRegistryFile(std::string path) {
  return std::make_unique<FileRegistry>(std::move(path));
}

bool IsSystemRegistry(const Registry& registry) {
  return &registry == &TheSystemRegistry();
}

Registry& DefaultRegistry() {
  Registry* const system = &TheSystemRegistry();
  static auto* const mutex = new std::mutex;
  static auto* const files = new std::map<std::string, std::unique_ptr<Registry>>;
  const char* path = std::getenv("QZ381_REGISTRY");
  if (path == nullptr || path[0] == '\0') return *system;
  std::lock_guard lock(*mutex);
  std::unique_ptr<Registry>& slot = (*files)[path];
  if (!slot) slot = OpenRegistryFile(path);
  return *slot;
}

}  // namespace qz381::platform
