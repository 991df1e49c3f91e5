#pragma once
// The virtual printer's network side: a listening socket on a loopback
// address, the one host connection it serves at a time, and the network
// faults (refusing connections, dropping the one there is). Used by the
// simulator's I/O thread only; Listen and the destructor by its owner.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qz381::sim {

class TcpEndpoint {
 public:
  // "127.0.0.1:9100", "[::1]:9100"; port 0 lets the system choose. Only
  // loopback addresses are taken: the virtual printer is test equipment and
  // never offers itself to a network. nullptr with `error` set on failure.
  static std::unique_ptr<TcpEndpoint> Listen(std::string_view address, std::string* error);
  ~TcpEndpoint();
  TcpEndpoint(const TcpEndpoint&) = delete;
  TcpEndpoint& operator=(const TcpEndpoint&) = delete;

  // "127.0.0.1:40123", with the port actually listened on.
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }

  int listen_fd() const { return listen_fd_; }          // -1 while refusing
  int connection_fd() const { return connection_fd_; }  // -1 without a host

  // Takes the waiting connection; one still held is closed first (its host
  // has given up on it to connect again). False when none was waiting.
  bool Accept(std::string* peer);
  // Ends the host's connection: in order, or with a reset (a cable pulled
  // shows as a reset once the host next sends).
  void Drop(bool reset);
  // Refusing closes the listening socket, so connects are refused; ending it
  // listens again on the same port. False with `error` set when it cannot.
  bool SetRefusing(bool refusing, std::string* error);

 private:
  TcpEndpoint() = default;
  bool OpenListener(std::string* error);

  std::string host_;
  int family_ = 0;
  std::string address_;
  uint16_t port_ = 0;
  int listen_fd_ = -1;
  int connection_fd_ = -1;
};

}  // namespace qz381::sim
