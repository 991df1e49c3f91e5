#include "tools/sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/sim/render/render.h"
#include "tools/sim/tcp_endpoint.h"

namespace qz381::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// A text run still open when the line has been quiet this long is complete.
// Longer than the service's pause between the strings of one job.
constexpr auto kTextQuiet = std::chrono::milliseconds(250);

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// Bytes per pacing step: about 20 ms of line time, so a throttled line
// trickles like a real one instead of moving in bursts.
size_t PacedChunk(uint32_t baud) {
  if (baud == 0) return 4096;
  return std::max<size_t>(1, baud / 10 / 50);
}

Clock::duration LineTime(uint32_t baud, size_t bytes) {
  // 10 bits a byte: start, 8 data, stop.
  return std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(
      static_cast<int64_t>(bytes) * 10 * 1000000 / std::max<uint32_t>(baud, 1)));
}

}  // namespace

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)), parser_([this](const Command& c) { OnCommand(c); }) {
  baud_ = options_.baud;
  if (!options_.render_path.empty()) {
    render::RenderOptions render_options;
    render_options.two_colour = options_.two_colour;
    render_options.on_page = [this](render::Image page) { WritePage(page); };
    render_options.on_error = [this](const std::string& what) { JournalLine("RENDER " + what); };
    renderer_ = std::make_unique<render::Renderer>(std::move(render_options));
  }
}

void Simulator::WritePage(const render::Image& page) {
  char name[32];
  std::snprintf(name, sizeof name, "/receipt-%03d.png", ++rendered_pages_);
  std::string error;
  if (!render::WritePng(page, options_.render_path + name, &error)) {
    std::fprintf(stderr, "qz381-sim: %s\n", error.c_str());
  }
}

std::unique_ptr<Simulator> Simulator::Start(SimulatorOptions options, std::string* error) {
  std::unique_ptr<Simulator> sim(new Simulator(std::move(options)));
  std::string failure = sim->Open();
  if (!failure.empty()) {
    *error = failure;
    sim->Stop();
    return nullptr;
  }
  sim->io_thread_ = std::thread([s = sim.get()] { s->IoLoop(); });
  return sim;
}

std::string Simulator::OpenPty() {
  if (options_.usb_host_fd >= 0) return AttachPty(options_.usb_host_fd, &slave_path_);
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return Errno("posix_openpt");
  std::string failure;
  if (grantpt(master) != 0 || unlockpt(master) != 0) {
    failure = Errno("unlockpt");
  } else {
    failure = AttachPty(master, &slave_path_);
  }
  close(master);
  return failure;
}

std::string Simulator::AttachPty(int master, std::string* slave_path) {
  master_fd_ = fcntl(master, F_DUPFD_CLOEXEC, 0);
  if (master_fd_ < 0) return Errno("dup");
  char name[128];
  if (ptsname_r(master_fd_, name, sizeof name) != 0) return Errno("ptsname");
  *slave_path = name;
  slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_fd_ < 0) return Errno("open slave");
  termios tio{};
  if (tcgetattr(slave_fd_, &tio) != 0) return Errno("tcgetattr");
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  if (tcsetattr(slave_fd_, TCSANOW, &tio) != 0) return Errno("tcsetattr");
  const int flags = fcntl(master_fd_, F_GETFL);
  if (flags < 0 || fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK) != 0) return Errno("fcntl");
  return {};
}

void Simulator::Replug(int usb_host_fd) {
  {
    std::lock_guard lock(mu_);
    if (replug_fd_ >= 0) close(replug_fd_);
    replug_fd_ = fcntl(usb_host_fd, F_DUPFD_CLOEXEC, 0);
  }
  Wake();
}

void Simulator::MoveToReplugged() {
  int fd = -1;
  {
    std::lock_guard lock(mu_);
    std::swap(fd, replug_fd_);
  }
  if (fd < 0) return;
  for (int* old : {&master_fd_, &slave_fd_}) {
    if (*old >= 0) close(*old);
    *old = -1;
  }
  // The host knows the printer by its node, not by the pseudo-terminal's
  // name; SlavePath() stays as it was, so readers on other threads see no change.
  std::string unused;
  const std::string failure = AttachPty(fd, &unused);
  close(fd);
  if (!failure.empty()) std::fprintf(stderr, "qz381-sim: replug: %s\n", failure.c_str());
}

std::string Simulator::Open() {
  if (pipe2(wake_fds_, O_CLOEXEC | O_NONBLOCK) != 0) return Errno("pipe");
  if (options_.tcp_address.empty()) {
    if (std::string failure = OpenPty(); !failure.empty()) return failure;
  } else {
    if (!options_.port_name.empty()) return "a port name is for a pseudo-terminal, not for TCP";
    std::string failure;
    tcp_ = TcpEndpoint::Listen(options_.tcp_address, &failure);
    if (!tcp_) return failure;
    network_address_ = tcp_->address();
    network_port_ = tcp_->port();
  }

  if (!options_.journal_path.empty()) {
    journal_file_ = std::fopen(options_.journal_path.c_str(), "w");
    if (journal_file_ == nullptr) return Errno(("journal " + options_.journal_path).c_str());
  }
  if (!options_.raw_path.empty()) {
    raw_file_ = std::fopen(options_.raw_path.c_str(), "wb");
    if (raw_file_ == nullptr) return Errno(("raw file " + options_.raw_path).c_str());
  }
  if (!options_.render_path.empty()) {
    // Made here, so that a path that cannot hold the pages fails at start and
    // not at the first cut.
    std::error_code ec;
    std::filesystem::create_directories(options_.render_path, ec);
    std::error_code probe;
    if (!std::filesystem::is_directory(options_.render_path, probe)) {
      return "render directory " + options_.render_path + ": " +
             (ec ? ec.message() : std::string("not a directory"));
    }
  }

  if (!options_.port_name.empty()) {
    platform::Registry& reg =
        options_.registry != nullptr ? *options_.registry : platform::DefaultRegistry();
    // A mapping of the same port name left by a simulator that did not end
    // cleanly would shadow ours.
    std::vector<std::string> names;
    if (reg.EnumValues(platform::Hive::kLocalMachine, kSerialCommKey, &names).ok()) {
      for (const auto& node : names) {
        std::string port;
        if (platform::ReadText(reg, platform::Hive::kLocalMachine, kSerialCommKey, node, &port)
                .ok() &&
            strcasecmp(port.c_str(), options_.port_name.c_str()) == 0) {
          reg.DeleteValue(platform::Hive::kLocalMachine, kSerialCommKey, node);
        }
      }
    }
    auto status = reg.SetValue(platform::Hive::kLocalMachine, kSerialCommKey, slave_path_,
                               platform::RegValue::Text(options_.port_name));
    if (!status.ok()) return "registering " + options_.port_name + ": " + status.ToString();
    registry_ = &reg;
  }
  return {};
}

Simulator::~Simulator() {
  Stop();
}

void Simulator::Stop() {
  std::lock_guard stop_lock(stop_mu_);
  if (stopped_) return;
  stopped_ = true;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  Wake();
  if (io_thread_.joinable()) io_thread_.join();
  if (scenario_thread_.joinable()) scenario_thread_.join();
  if (master_fd_ >= 0 || tcp_) parser_.Finish();
  tcp_.reset();
  if (renderer_ && !renderer_->Empty()) WritePage(renderer_->Snapshot());
  renderer_.reset();
  Unregister();
  for (int* fd : {&master_fd_, &slave_fd_, &replug_fd_, &wake_fds_[0], &wake_fds_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  std::lock_guard lock(mu_);
  if (journal_file_ != nullptr) std::fclose(journal_file_);
  if (raw_file_ != nullptr) std::fclose(raw_file_);
  journal_file_ = raw_file_ = nullptr;
  cv_.notify_all();
}

void Simulator::Unregister() {
  if (registry_ == nullptr) return;
  std::string port;
  // Only our own mapping: another simulator may have taken the name since.
  if (platform::ReadText(*registry_, platform::Hive::kLocalMachine, kSerialCommKey, slave_path_,
                         &port)
          .ok() &&
      port == options_.port_name) {
    registry_->DeleteValue(platform::Hive::kLocalMachine, kSerialCommKey, slave_path_);
  }
  registry_ = nullptr;
}

void Simulator::Wake() {
  if (wake_fds_[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] auto n = write(wake_fds_[1], &b, 1);  // a full pipe wakes as well
  }
}

int Simulator::LineFd() const {
  return tcp_ ? tcp_->connection_fd() : master_fd_;
}

int64_t Simulator::WriteLine(const char* bytes, size_t n) {
  const int fd = LineFd();
  if (fd < 0) return -1;
  // A host that went away must not end the process with SIGPIPE.
  return tcp_ ? send(fd, bytes, n, MSG_NOSIGNAL) : write(fd, bytes, n);
}

void Simulator::HostGone(const std::string& why) {
  // A command the connection cut short is journaled as truncated.
  parser_.Finish();
  tcp_->Drop(false);
  std::lock_guard lock(mu_);
  JournalLocked("NET " + why);
  // What waited for the old connection is lost with it, and the printer
  // forgets what its host told it.
  outbox_.clear();
  const DeviceStatus status = state_.status;
  state_.Initialize();
  state_.automatic_status_mask = 0;
  state_.status = status;
  last_asb_ = {};
  last_cartridge_ = {};
  cv_.notify_all();
}

void Simulator::ServeNetwork(bool accept_ready) {
  int drop = 0;
  bool refusing = false, change_refusing = false;
  {
    std::lock_guard lock(mu_);
    std::swap(drop, net_drop_);
    refusing = net_refusing_;
    change_refusing = net_refusing_ != net_refusing_applied_;
    net_refusing_applied_ = net_refusing_;
  }
  if (drop != 0 && tcp_->connection_fd() >= 0) {
    if (drop == 2) tcp_->Drop(true);
    HostGone(drop == 2 ? "connection reset by the operator" : "connection closed by the operator");
  }
  if (change_refusing) {
    std::string error;
    if (tcp_->SetRefusing(refusing, &error)) {
      JournalLine(refusing ? "NET refusing connections" : "NET taking connections");
    } else {
      JournalLine("NET cannot listen again: " + error);
    }
  }
  if (!accept_ready) return;
  // A host that connects again has given up on its old connection.
  if (tcp_->connection_fd() >= 0) HostGone("connection replaced by a new one");
  std::string peer;
  if (tcp_->Accept(&peer)) {
    std::lock_guard lock(mu_);
    ++connections_;
    JournalLocked("NET connected from " + peer);
    cv_.notify_all();
  }
}

void Simulator::IoLoop() {
  uint8_t buffer[4096];
  Clock::time_point next_read = Clock::now(), next_write = Clock::now();
  Clock::time_point last_byte = Clock::now();
  bool text_open = false;  // bytes arrived since the last flush of a text run
  bool accept_ready = false;

  for (;;) {
    if (tcp_) ServeNetwork(accept_ready);
    MoveToReplugged();
    bool paused, want_write, stalled;
    uint32_t baud;
    {
      std::lock_guard lock(mu_);
      if (stopping_) {
        // Whatever the printer already decided to say still goes out, as
        // far as the line takes it without waiting.
        if (!outbox_.empty() && !paused_) {
          [[maybe_unused]] auto n = WriteLine(outbox_.data(), outbox_.size());
        }
        return;
      }
      paused = paused_;
      stalled = net_stalled_;
      want_write = !outbox_.empty() && !paused_;
      baud = baud_;
      if (pacing_reset_) {
        next_read = next_write = Clock::now();
        pacing_reset_ = false;
      }
    }
    const int line = LineFd();
    const auto now = Clock::now();
    pollfd fds[3] = {
        {wake_fds_[0], POLLIN, 0}, {line, 0, 0}, {tcp_ ? tcp_->listen_fd() : -1, POLLIN, 0}};
    Clock::time_point deadline = Clock::time_point::max();
    if (!paused && !stalled) {
      if (now >= next_read)
        fds[1].events |= POLLIN;
      else
        deadline = std::min(deadline, next_read);
    }
    if (want_write) {
      if (now >= next_write)
        fds[1].events |= POLLOUT;
      else
        deadline = std::min(deadline, next_write);
    }
    if (text_open) deadline = std::min(deadline, last_byte + kTextQuiet);
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
      timeout = static_cast<int>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
    }
    const int ready = poll(fds, 3, timeout);
    if (ready < 0 && errno != EINTR) return;
    accept_ready = (fds[2].revents & POLLIN) != 0;
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wake_fds_[0], drain, sizeof drain) > 0) {
      }
    }
    bool host_gone = false;
    // Reads and writes happen under the lock (both are non-blocking), so that
    // once SetPaused() returns not one more byte moves.
    if (fds[1].revents & POLLIN) {
      ssize_t n = 0;
      size_t want = 0;
      int read_error = EAGAIN;  // nothing read: nothing wrong
      {
        std::lock_guard lock(mu_);
        baud = baud_;  // a rate set while we were waiting applies to this read
        want = std::min(sizeof buffer, PacedChunk(baud));
        if (!paused_) {
          n = read(line, buffer, want);
          read_error = n == 0 ? 0 : n < 0 ? errno : EAGAIN;
        }
      }
      if (n > 0) {
        const auto after = Clock::now();
        last_byte = after;
        text_open = true;
        if (baud != 0)
          next_read = std::max(next_read, after - LineTime(baud, want)) +
                      LineTime(baud, static_cast<size_t>(n));
        Record(buffer, static_cast<size_t>(n));
        parser_.Feed({buffer, static_cast<size_t>(n)});
      } else if (tcp_ && read_error != EAGAIN && read_error != EINTR) {
        host_gone = true;  // 0: closed in order; otherwise reset
      }
    }
    if (fds[1].revents & POLLOUT) {
      std::lock_guard lock(mu_);
      baud = baud_;
      if (!paused_ && !outbox_.empty()) {
        const ssize_t n = WriteLine(outbox_.data(), std::min(outbox_.size(), PacedChunk(baud)));
        if (n > 0) {
          outbox_.erase(0, static_cast<size_t>(n));
          if (baud != 0)
            next_write = std::max(next_write, Clock::now() - LineTime(baud, 1)) +
                         LineTime(baud, static_cast<size_t>(n));
        } else if (tcp_ && errno != EAGAIN && errno != EINTR) {
          host_gone = true;
        }
      }
    }
    if (tcp_ && (host_gone || (fds[1].revents & (POLLHUP | POLLERR)) != 0)) {
      text_open = false;
      HostGone("connection ended by the host");
      continue;
    }
    if (fds[1].revents & (POLLHUP | POLLERR)) {
      // Cannot happen on the pty while we hold the slave open; never spin if it does.
      std::unique_lock lock(mu_);
      cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopping_; });
    }
    if (text_open && Clock::now() - last_byte >= kTextQuiet) {
      parser_.FlushText();
      text_open = false;
    }
  }
}

void Simulator::Record(const uint8_t* bytes, size_t n) {
  std::lock_guard lock(mu_);
  if (options_.keep_in_memory) raw_.insert(raw_.end(), bytes, bytes + n);
  raw_count_ += n;
  if (raw_file_ != nullptr) {
    std::fwrite(bytes, 1, n, raw_file_);
    std::fflush(raw_file_);
  }
  cv_.notify_all();
}

void Simulator::JournalLocked(std::string line) {
  if (journal_file_ != nullptr) {
    std::fprintf(journal_file_, "%s\n", line.c_str());
    std::fflush(journal_file_);
  }
  if (options_.keep_in_memory) journal_.push_back(std::move(line));
}

void Simulator::JournalLine(std::string line) {
  std::lock_guard lock(mu_);
  JournalLocked(std::move(line));
  cv_.notify_all();
}

void Simulator::OnCommand(const Command& command) {
  std::optional<PrinterState> snapshot;
  {
    std::lock_guard lock(mu_);
    JournalLocked(FormatJournalLine(command));
    state_.Apply(command);
    if (!command.truncated && !silent_) {
      if (command.op == Op::kAutomaticStatus && state_.automatic_status_mask != 0) {
        // Enabling reports answers with the current state straight away.
        last_asb_ = AsbBlock(state_.status);
        QueueLocked(last_asb_.data(), last_asb_.size());
        if (state_.automatic_status_mask & kAsbCartridge) {
          last_cartridge_ = CartridgeBlock(state_.status);
          QueueLocked(last_cartridge_.data(), last_cartridge_.size());
        }
      } else if (command.op == Op::kRealtimeStatus) {
        const uint8_t reply = RealtimeReply(state_.status, command.params.at(0));
        QueueLocked(&reply, 1);
      }
    }
    if (options_.on_command || renderer_) snapshot = state_;
    cv_.notify_all();
  }
  if (snapshot && renderer_) renderer_->OnCommand(command, *snapshot);
  if (snapshot && options_.on_command) options_.on_command(command, *snapshot);
}

void Simulator::QueueLocked(const uint8_t* bytes, size_t n) {
  outbox_.append(reinterpret_cast<const char*>(bytes), n);
  Wake();
}

void Simulator::ReportChangesLocked() {
  const uint8_t mask = state_.automatic_status_mask;
  if (silent_ || mask == 0) return;
  const StatusBlock asb = AsbBlock(state_.status);
  if (((mask & kAsbOnline) && asb[0] != last_asb_[0]) ||
      ((mask & kAsbError) && asb[1] != last_asb_[1]) ||
      ((mask & kAsbPaper) && asb[2] != last_asb_[2])) {
    last_asb_ = asb;
    QueueLocked(asb.data(), asb.size());
  }
  const StatusBlock cartridge = CartridgeBlock(state_.status);
  if ((mask & kAsbCartridge) && cartridge != last_cartridge_) {
    last_cartridge_ = cartridge;
    QueueLocked(cartridge.data(), cartridge.size());
  }
}

PrinterState Simulator::State() const {
  std::lock_guard lock(mu_);
  return state_;
}

std::vector<std::string> Simulator::JournalLines() const {
  std::lock_guard lock(mu_);
  return journal_;
}

std::vector<uint8_t> Simulator::RawBytes() const {
  std::lock_guard lock(mu_);
  return raw_;
}

std::optional<size_t> Simulator::WaitForJournalLine(std::string_view line,
                                                    std::chrono::milliseconds timeout,
                                                    size_t from) {
  std::unique_lock lock(mu_);
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (size_t i = from; i < journal_.size(); ++i) {
      if (journal_[i] == line) return i;
    }
    from = std::max(from, journal_.size());
    if (stopping_) return std::nullopt;
    if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (size_t i = from; i < journal_.size(); ++i) {
        if (journal_[i] == line) return i;
      }
      return std::nullopt;
    }
  }
}

bool Simulator::WaitForRawBytes(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return raw_count_ >= count || stopping_; }) &&
         raw_count_ >= count;
}

}  // namespace qz381::sim
