// The POSIX registry: one regedit-format file (see registry_file.h).
//
// Writers serialise on flock() of a sibling "<path>.lock" rather than the file
// itself, because every write replaces the file by rename: a lock on the old inode
// would not stop a process that opened the new one. The lock file is left in
// place; removing it would let two writers lock different inodes. flock() locks
// belong to the open file description, so two Registry objects in one process
// exclude each other as well as two processes do.
//
// Each write re-reads the file under the lock before changing it, so no update
// made by another writer is lost. Reads use the parsed tree cached from the last
// read or write and re-read the file only when its identity (device, inode, size,
// modification and change times) differs.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/files.h"
#include "platform/posix/file_util.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "platform/registry_tree.h"

namespace qz381::platform {
namespace {

struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long mtime_ns = 0;
  long long ctime_ns = 0;

  static FileStamp Of(const struct stat& st) {
    return {true,
            st.st_dev,
            st.st_ino,
            st.st_size,
            st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
  }
  bool operator==(const FileStamp&) const = default;
};

class FileRegistry final : public TreeRegistry {
 public:
  explicit FileRegistry(std::string path) : path_(std::move(path)) {}

 protected:
  Status Read(const ReadOp& op) override {
    std::lock_guard lock(mutex_);
    Status status = Refresh();
    return status.ok() ? op(tree_) : status;
  }

  Status Write(const WriteOp& op) override {
    std::lock_guard lock(mutex_);
    if (path_.empty()) return NoLocation();
    Status status = MakeDirectories(posix::ParentDirectory(path_));
    if (!status.ok()) return status;

    const std::string lock_path = path_ + ".lock";
    posix::ScopedFd lock_fd(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock_fd.valid()) return Status::Fail(Outcome::kIoError, "open " + lock_path, errno);
    while (::flock(lock_fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return Status::Fail(Outcome::kIoError, "lock " + lock_path, errno);
    }

    RegTree tree;
    FileStamp stamp;
    status = Load(&tree, &stamp);
    // A file that does not parse is left alone for a person to mend, not replaced.
    if (!status.ok()) return status;
    Status result = op(tree);
    if (result.ok()) {
      status = WriteFileAtomically(path_, FormatRegFile(tree));
      if (!status.ok()) return status;
      struct stat st;
      stamp = ::stat(path_.c_str(), &st) == 0 ? FileStamp::Of(st) : FileStamp{};
    }
    tree_ = std::move(tree);
    stamp_ = stamp;
    cached_ = Status::Ok();
    have_cache_ = true;
    return result;  // the lock is released as lock_fd closes
  }

 private:
  // Brings tree_ up to date with the file. A file that does not parse keeps
  // failing, without a re-read, until it changes.
  Status Refresh() {
    if (path_.empty()) return NoLocation();
    struct stat st;
    const FileStamp now = ::stat(path_.c_str(), &st) == 0 ? FileStamp::Of(st) : FileStamp{};
    if (have_cache_ && now == stamp_) return cached_;

    RegTree tree;
    FileStamp stamp;
    Status status = Load(&tree, &stamp);
    have_cache_ = status.ok() || status.outcome() == Outcome::kMalformed;
    stamp_ = stamp;
    cached_ = status;
    tree_ = status.ok() ? std::move(tree) : RegTree();
    return status;
  }

  // Reads and parses the file; a missing file is an empty registry.
  Status Load(RegTree* tree, FileStamp* stamp) const {
    posix::ScopedFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
      *stamp = FileStamp{};
      return errno == ENOENT ? Status::Ok()
                             : Status::Fail(Outcome::kIoError, "open " + path_, errno);
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return Status::Fail(Outcome::kIoError, "stat " + path_, errno);
    *stamp = FileStamp::Of(st);
    std::string bytes;
    Status status = posix::ReadAll(fd.get(), path_, &bytes);
    return status.ok() ? ParseRegFile(bytes, path_, tree) : status;
  }

  static Status NoLocation() {
    return Status::Fail(Outcome::kIoError,
                        "no registry file: neither QZ381_REGISTRY nor a home directory is set");
  }

  const std::string path_;
  std::mutex mutex_;
  RegTree tree_;
  FileStamp stamp_;
  Status cached_;
  bool have_cache_ = false;
};

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// Empty when there is nowhere to put it.
std::string DefaultRegistryPath() {
  if (const char* path = std::getenv("QZ381_REGISTRY"); path != nullptr && path[0] != '\0') {
    return path;
  }
  std::string config;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    const std::string home = HomeDirectory();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/qz381/registry.reg";
}

}  // namespace

std::unique_ptr<Registry> OpenRegistryFile(std::string path) {
  return std::make_unique<FileRegistry>(std::move(path));
}

bool IsSystemRegistry(const Registry&) {
  return false;
}

Registry& DefaultRegistry() {
  // Never destroyed: components may still hold the reference while static
  // destructors run. One object per path keeps each file's cache warm.
  static auto* const mutex = new std::mutex;
  static auto* const registries = new std::map<std::string, std::unique_ptr<Registry>>;
  const std::string path = DefaultRegistryPath();
  std::lock_guard lock(*mutex);
  std::unique_ptr<Registry>& slot = (*registries)[path];
  if (!slot) slot = OpenRegistryFile(path);
  return *slot;
}

}  // namespace qz381::platform
