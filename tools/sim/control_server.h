#pragma once
// The control socket: a Unix stream socket on which each connection sends
// operator commands, one per line, and gets one reply line per command ("ok",
// "ok <status>" or "error: ..."). Commands run in the order they arrive, on
// the server's thread; a `sleep` holds up the connections behind it.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/simulator.h"

namespace qz381::sim {

class ControlServer {
 public:
  // Listens at `path` (a stale socket file there is replaced; any other file
  // is left alone and refused). nullptr with `error` set on failure.
  static std::unique_ptr<ControlServer> Start(Simulator& simulator, std::string path,
                                              std::string* error);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Closes every connection, ends the thread and removes the socket file.
  // A command in progress finishes first (stop the simulator first to cut a
  // `sleep` short).
  void Stop();

 private:
  ControlServer(Simulator& simulator, std::string path)
      : simulator_(simulator), path_(std::move(path)) {}
  void Loop();

  struct Client {
    int fd;
    std::string pending;
  };

  Simulator& simulator_;
  std::string path_;
  int listen_fd_ = -1;
  int wake_fds_[2] = {-1, -1};
  std::vector<Client> clients_;  // server thread only
  std::thread thread_;
};

}  // namespace qz381::sim
