#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_util.h"

namespace qz381::platform {
namespace posix {

ScopedFd::~ScopedFd() {
  if (fd_ >= 0) ::close(fd_);
}

Status ReadAll(int fd, const std::string& path, std::string* out) {
  std::string data;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::Fail(Outcome::kIoError, "read " + path, errno);
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  *out = std::move(data);
  return Status::Ok();
}

std::string ParentDirectory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace posix

namespace {

Status Errno(const std::string& what, int err) {
  return Status::Fail(err == ENOENT ? Outcome::kNotFound : Outcome::kIoError, what, err);
}

Status WriteAll(int fd, const std::string& path, const std::string& contents) {
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::Fail(Outcome::kIoError, "write " + path, errno);
    }
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

}  // namespace

Status ReadWholeFile(const std::string& path, std::string* out) {
  posix::ScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return Errno("open " + path, errno);
  return posix::ReadAll(fd.get(), path, out);
}

Status WriteFileAtomically(const std::string& path, const std::string& contents) {
  std::string temp = path + ".tmp.XXXXXX";
  posix::ScopedFd fd(::mkstemp(temp.data()));
  if (!fd.valid()) return Errno("create temporary file for " + path, errno);

  // mkstemp makes the file private; the replacement keeps the mode of the file it
  // replaces, or gets the usual mode of a configuration file.
  struct stat old_stat;
  const mode_t mode = ::stat(path.c_str(), &old_stat) == 0 ? (old_stat.st_mode & 07777) : 0644;
  Status status = WriteAll(fd.get(), temp, contents);
  if (status.ok() && ::fchmod(fd.get(), mode) != 0) {
    status = Status::Fail(Outcome::kIoError, "chmod " + temp, errno);
  }
  if (status.ok() && ::fsync(fd.get()) != 0) {
    status = Status::Fail(Outcome::kIoError, "fsync " + temp, errno);
  }
  if (status.ok() && ::rename(temp.c_str(), path.c_str()) != 0) {
    status = Status::Fail(Outcome::kIoError, "rename " + temp + " to " + path, errno);
  }
  if (!status.ok()) {
    ::unlink(temp.c_str());
    return status;
  }
  // Make the rename itself durable; a failure here leaves a complete file either
  // way, so it is not worth failing the write for.
  posix::ScopedFd dir(
      ::open(posix::ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());
  return Status::Ok();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

Status MakeDirectories(const std::string& path) {
  if (path.empty()) return Status::Ok();
  // Walk down from the root so that each mkdir has its parent in place.
  for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
    const std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
      return Status::Fail(Outcome::kIoError, "mkdir " + prefix, errno);
    }
    if (pos == std::string::npos) break;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Status::Fail(Outcome::kIoError, "not a directory: " + path, ENOTDIR);
  }
  return Status::Ok();
}

}  // namespace qz381::platform
