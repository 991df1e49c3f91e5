#pragma once
// The virtual QZ381 on a pseudo-terminal, or on TCP as a network printer. On a
// pseudo-terminal the service opens the slave side as if it were a serial port
// and the simulator sits on the master side; on TCP it listens on a loopback
// address and serves one host connection at a time. Either way it plays the
// printer: it reads and journals every command, keeps the printer's state,
// answers real-time status requests and sends automatic status blocks, and
// takes faults from its operator (a test, the control socket, a scenario).
// A network printer forgets what its host told it (automatic status, styles)
// when the connection ends, as one does when it is switched off.
//
// Threads: one I/O thread per simulator, plus a scenario thread while a
// scenario runs. Every public method may be called from any thread. Every wait
// (the I/O loop, pacing, `sleep`, the Wait* methods) also wakes on Stop().
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "tools/sim/command_parser.h"
#include "tools/sim/control.h"
#include "tools/sim/printer_state.h"

namespace qz381::sim {

namespace render {
class Renderer;
struct Image;
}  // namespace render

class TcpEndpoint;

struct SimulatorOptions {
  // When set ("127.0.0.1:9100"; port 0: the system picks one), the printer
  // listens there instead of opening a pseudo-terminal. Loopback addresses only.
  std::string tcp_address;
  // When set, the pseudo-terminal is registered under this port name ("COM7")
  // in HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM for as long as the
  // simulator runs.
  std::string port_name;
  // When set (>= 0), the simulator serves this already-open far end of a
  // pseudo-terminal instead of opening one: an emulated USB printer node
  // (umockdev's testbed hands these out). The descriptor stays the caller's;
  // the simulator works on a duplicate.
  int usb_host_fd = -1;
  // Where to register; nullptr means the process's default registry. Must
  // outlive the simulator.
  platform::Registry* registry = nullptr;
  // Files for the decoded journal and the raw bytes received; empty: none.
  // Both are rewritten from the start and flushed as they grow.
  std::string journal_path;
  std::string raw_path;
  // Line speed to pace reads and writes to (10 bits a byte); 0: no limit.
  uint32_t baud = 0;
  // Keep the journal and the raw bytes in memory for the Journal*/Raw*/Wait*
  // methods. A long-running program turns this off and relies on the files.
  bool keep_in_memory = true;
  // Called on the I/O thread for every command received, with the state after
  // the command was applied (the hook a renderer attaches to). It must not
  // call back into the simulator.
  std::function<void(const Command&, const PrinterState&)> on_command;
  // When set, the receipt is drawn as the commands arrive and every cut writes
  // the page up to it to `<render_path>/receipt-NNN.png` (NNN counting from
  // 001) in an existing directory; what was printed after the last cut is
  // written on Stop().
  std::string render_path;
  // Draw as a two-colour model: the second colour in red.
  bool two_colour = false;
  // Called when a `quit` command is executed, on the thread executing it. It
  // must not call Stop() itself (it may be the scenario thread); wake the
  // owner instead.
  std::function<void()> on_quit;
};

class Simulator {
 public:
  // Opens a pseudo-terminal in raw mode, registers it when asked and starts
  // the I/O thread. nullptr with `error` set on failure.
  static std::unique_ptr<Simulator> Start(SimulatorOptions options, std::string* error);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The device node the service opens ("/dev/pts/7"); empty on TCP.
  const std::string& SlavePath() const { return slave_path_; }
  // Where it listens on TCP ("127.0.0.1:40123"), and the port; empty and 0 on
  // a pseudo-terminal.
  const std::string& NetworkAddress() const { return network_address_; }
  uint16_t NetworkPort() const { return network_port_; }

  // Ends the I/O and scenario threads, journals a command left unfinished as
  // truncated, removes the registry mapping and closes the files. Idempotent;
  // wakes every waiter. The journal and raw bytes stay readable.
  void Stop();

  // Fault injection. A change of a reported condition sends an automatic
  // status block at once when the host has enabled that kind of report.
  void SetCoverOpen(bool open);
  void SetPaper(Paper paper);
  void SetOffline(bool offline);
  void SetFault(Fault fault);
  void SetCartridge(bool second, Cartridge state);
  void SetHeadCleaning(bool on);
  // Silent: reads and journals on, but answers nothing and sends no status.
  // Turning it off catches up on any status change the host missed.
  void SetSilent(bool silent);
  // Paused: reads nothing and sends nothing; the host's writes back up.
  void SetPaused(bool paused);
  void SetBaud(uint32_t baud);
  // Network faults (TCP only; false on a pseudo-terminal). Refusing closes the
  // listening socket, so new connections are refused; the one there is stays.
  bool SetNetRefusing(bool refusing);
  // Ends the host's connection, in order or with a reset.
  bool DropConnection(bool reset);
  // Stalled: reads nothing from the host, so its writes back up; still sends.
  bool SetNetStalled(bool stalled);
  // True once a host is connected (the count-th connection since the start, 1
  // for the first), false after `timeout` or when stopped.
  bool WaitForConnection(size_t count, std::chrono::milliseconds timeout);
  // The USB printer was plugged in again and its node has a new far end
  // (see usb_host_fd): the I/O thread moves to it before its next read.
  void Replug(int usb_host_fd);
  // Sends bytes to the host as they are (after anything already queued).
  void SendToHost(std::string_view bytes);

  // Runs one operator command; answers "ok" (status: "ok " and the summary)
  // or "error: ...". `sleep` blocks the caller (waking on Stop()).
  std::string Execute(std::string_view line);
  std::string Execute(const ControlCommand& command);
  // Runs the steps on a thread of the simulator's; a running scenario is
  // ended first.
  void RunScenario(std::vector<ScenarioStep> steps);
  bool QuitRequested() const;

  // Observation.
  PrinterState State() const;
  std::vector<std::string> JournalLines() const;
  std::vector<uint8_t> RawBytes() const;
  // The index of the first journal line at or after `from` equal to `line`;
  // nullopt after `timeout` or when stopped without it.
  std::optional<size_t> WaitForJournalLine(std::string_view line, std::chrono::milliseconds timeout,
                                           size_t from = 0);
  // True once at least `count` bytes were received.
  bool WaitForRawBytes(size_t count, std::chrono::milliseconds timeout);

 private:
  explicit Simulator(SimulatorOptions options);
  std::string Open();
  std::string OpenPty();
  // Takes a duplicate of the far end `master` and holds its node (named in
  // `slave_path`) open, raw.
  std::string AttachPty(int master, std::string* slave_path);
  // Moves to the far end Replug() left, if any. I/O thread, without mu_.
  void MoveToReplugged();
  void IoLoop();
  // The descriptor the host's bytes come and go on: the pty master, or the
  // host's connection (-1 without one). I/O thread only.
  int LineFd() const;
  int64_t WriteLine(const char* bytes, size_t n);
  // TCP: applies the operator's refuse and drop requests; takes a new host;
  // forgets the host whose connection ended. I/O thread, without mu_.
  void ServeNetwork(bool accept_ready);
  void HostGone(const std::string& why);
  void OnCommand(const Command& command);
  void JournalLocked(std::string line);
  void JournalLine(std::string line);  // takes mu_
  void Record(const uint8_t* bytes, size_t n);
  // Called with mu_ held after any change of the conditions or of silence.
  void ReportChangesLocked();
  void QueueLocked(const uint8_t* bytes, size_t n);
  void Wake();
  bool SleepFor(std::chrono::milliseconds duration);  // false when stopped
  void ScenarioLoop(std::vector<ScenarioStep> steps, uint64_t generation);
  void Unregister();
  void WritePage(const render::Image& page);  // I/O thread, or Stop() after it

  SimulatorOptions options_;
  std::string slave_path_;
  std::string network_address_;
  uint16_t network_port_ = 0;
  std::unique_ptr<TcpEndpoint> tcp_;  // I/O thread only once it runs
  int master_fd_ = -1;
  int slave_fd_ = -1;   // held open so the line never hangs up between host opens
  int replug_fd_ = -1;  // guarded by mu_: a new far end for the I/O thread
  int wake_fds_[2] = {-1, -1};
  std::FILE* journal_file_ = nullptr;
  std::FILE* raw_file_ = nullptr;
  platform::Registry* registry_ = nullptr;  // set once registered
  std::thread io_thread_;
  CommandParser parser_;                        // I/O thread only (and Stop() after it has ended)
  std::unique_ptr<render::Renderer> renderer_;  // likewise; set with render_path
  int rendered_pages_ = 0;

  std::mutex stop_mu_;  // serialises Stop() and RunScenario(); guards the threads
  bool stopped_ = false;
  mutable std::mutex mu_;
  std::condition_variable cv_;  // journal, raw bytes, stop
  bool stopping_ = false;
  bool quit_ = false;
  PrinterState state_;
  bool silent_ = false;
  bool paused_ = false;
  uint32_t baud_ = 0;
  bool pacing_reset_ = false;
  // Network faults asked for, applied by the I/O thread.
  bool net_refusing_ = false;
  bool net_refusing_applied_ = false;
  int net_drop_ = 0;  // 1: in order, 2: with a reset
  bool net_stalled_ = false;
  size_t connections_ = 0;
  StatusBlock last_asb_{};
  StatusBlock last_cartridge_{};
  std::string outbox_;  // bytes waiting for the line
  std::vector<std::string> journal_;
  std::vector<uint8_t> raw_;
  size_t raw_count_ = 0;
  std::thread scenario_thread_;
  uint64_t scenario_generation_ = 0;
};

}  // namespace qz381::sim
