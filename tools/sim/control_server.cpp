#include "tools/sim/control_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qz381::sim {
namespace {

// Writes all of it; a client that stops reading its replies loses them
// rather than stalling the server.
void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

std::unique_ptr<ControlServer> ControlServer::Start(Simulator& simulator, std::string path,
                                                    std::string* error) {
  std::unique_ptr<ControlServer> server(new ControlServer(simulator, std::move(path)));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (server->path_.empty() || server->path_.size() >= sizeof address.sun_path) {
    *error = "control socket path empty or too long: " + server->path_;
    return nullptr;
  }
  std::memcpy(address.sun_path, server->path_.c_str(), server->path_.size() + 1);
  struct stat st {};
  if (lstat(server->path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = "control socket path exists and is not a socket: " + server->path_;
      return nullptr;
    }
    unlink(server->path_.c_str());
  }
  if (pipe2(server->wake_fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  server->listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server->listen_fd_ < 0 ||
      bind(server->listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(server->listen_fd_, 8) != 0) {
    *error = "control socket " + server->path_ + ": " + std::strerror(errno);
    server->Stop();
    return nullptr;
  }
  server->thread_ = std::thread([s = server.get()] { s->Loop(); });
  return server;
}

ControlServer::~ControlServer() {
  Stop();
}

void ControlServer::Stop() {
  if (wake_fds_[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] auto n = write(wake_fds_[1], &b, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (auto& client : clients_) close(client.fd);
  clients_.clear();
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    unlink(path_.c_str());
  }
  listen_fd_ = -1;
  for (int* fd : {&wake_fds_[0], &wake_fds_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void ControlServer::Loop() {
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({wake_fds_[0], POLLIN, 0});
    fds.push_back({listen_fd_, POLLIN, 0});
    for (const auto& client : clients_) fds.push_back({client.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents & POLLIN) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) clients_.push_back({fd, {}});
    }
    for (size_t i = fds.size(); i-- > 2;) {
      if (fds[i].revents == 0) continue;
      Client& client = clients_[i - 2];
      char buffer[1024];
      const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        close(client.fd);
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i - 2));
        continue;
      }
      client.pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      while ((end = client.pending.find('\n')) != std::string::npos) {
        const std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        WriteAll(client.fd, simulator_.Execute(line) + "\n");
      }
      // A line without an end that keeps growing is no command.
      if (client.pending.size() > 64 * 1024) {
        WriteAll(client.fd, "error: line too long\n");
        client.pending.clear();
      }
    }
  }
}

}  // namespace qz381::sim
