#pragma once
// The service object's side of the port modules: the process-wide port table and
// one PortChannel per registered port name, bound to the managing port module
// (Vexlink) that is loaded from the path in the registry value mngdir.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/printer_commands.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "ports/common/port_contract.h"

namespace qz381::so {

// A lock with a time-out, owned by a thread. Built on a plain mutex and a
// condition variable so that the thread sanitizer can follow it. Not recursive:
// nothing calls out while holding it, so the owner asking again is a fault,
// refused with a trace line rather than a hang.
class TimedLock {
 public:
  // -1 waits without limit. False on time-out, or when the caller holds it.
  bool Lock(int32_t timeout_ms);
  // Only the owner unlocks; anyone else is ignored.
  void Unlock();

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::thread::id owner_;
  bool locked_ = false;
};

inline constexpr uint8_t kOwnerServiceObject = 1;

class PortChannel {
 public:
  // What the status thread tells the owner that claimed the port, from that
  // thread, with no lock of the channel held.
  class StatusSink {
   public:
    virtual void OnAsbBlock(const uint8_t* block) = 0;
    virtual void OnCartridgeBlock(const uint8_t* block) = 0;
    virtual void OnPowerState(int32_t code) = 0;

   protected:
    ~StatusSink() = default;
  };

  // The status thread's polling and the pause when closing run on `clock`,
  // which must outlive the channel.
  explicit PortChannel(platform::Clock& clock = platform::DefaultClock()) : clock_(clock) {}
  virtual ~PortChannel();

  // Loads the managing module and binds its entry points; false (all null) when
  // mngdir is missing, the module does not load or a required entry is missing.
  bool BindPortModule(platform::Registry& registry);
  void UnbindPortModule();

  bool OpenChannel(const ports::DeviceOption& option, uint8_t owner);
  // Turns automatic status off and lets the printer settle (500 ms) before the
  // last owner's close ends the status thread and closes the port.
  void CloseChannel(uint8_t owner);
  int32_t WriteChannel(const uint8_t* bytes, int32_t count);
  // Ends a write the printer holds back (flow control) by closing the port
  // under it, without the channel lock its writer holds; the owners keep the
  // channel, and CloseChannel finishes the close.
  void AbortWrite();
  // True when the whole command was written.
  bool WriteCommand(printer_commands::Command command);
  int32_t ReadChannel(uint8_t* buffer, int32_t count, uint32_t timeout_ms);
  // -1 waits without limit. Held only around writes and reads: nothing that
  // may call back runs under it.
  bool LockChannel(int32_t timeout_ms);
  void UnlockChannel();
  void ClearChannel();

  bool IsOpen() const { return open_owners_ != 0; }
  int32_t handle() const { return handle_; }
  // The sink from now on; null stops the calls. Replacing or clearing it
  // returns once a call to the old sink has returned, so that sink may be
  // destroyed right after (from within a sink call it cannot wait: traced).
  void SetStatusSink(StatusSink* sink);
  StatusSink* status_sink();
  // How often the port module has reported the printer off-line since the
  // channel was made (a network printer's connection dropping).
  uint32_t power_losses() const { return power_losses_.load(); }

 private:
  friend std::shared_ptr<PortChannel> RegisterPort(const std::string&, const std::string&, uint8_t,
                                                   platform::Registry&, platform::Clock&);
  friend int32_t UnregisterPort(uint8_t, int32_t);

  std::unique_ptr<platform::DynamicLibrary> module_;
  ports::managing_form::CreatePortFn CreatePort_ = nullptr;
  ports::managing_form::RemovePortFn RemovePort_ = nullptr;
  ports::managing_form::SetDeviceOptionFn SetDeviceOption_ = nullptr;
  ports::managing_form::OpenPortFn OpenPort_ = nullptr;
  ports::managing_form::ClosePortFn ClosePort_ = nullptr;
  ports::managing_form::WriteFn Write_ = nullptr;
  ports::managing_form::ReadFn Read_ = nullptr;
  ports::managing_form::ClearFn Clear_ = nullptr;
  ports::managing_form::GetInputBufferCountFn GetInputBufferCount_ = nullptr;
  ports::managing_form::IsPowerStateFn IsPowerState_ = nullptr;
  ports::managing_form::GetASBStateFn GetASBState_ = nullptr;
  // Optional: with it the status thread sleeps until a block arrives.
  ports::managing_form::WaitASBStateFn WaitASBState_ = nullptr;

  void StatusThreadMain();
  // Calls `tell` on the sink, if there is one, counted as a call in flight.
  void TellSink(const std::function<void(StatusSink&)>& tell);
  void StopStatusThread();

  platform::Clock& clock_;
  std::mutex sink_mutex_;  // sink_, sink_calls_, sink_caller_
  std::condition_variable sink_idle_;
  StatusSink* sink_ = nullptr;
  int32_t sink_calls_ = 0;  // calls in flight
  std::thread::id sink_caller_;
  // Set under the table lock by each registration, read by any thread.
  std::atomic<int32_t> handle_{0};
  // Serial and parallel printers tell their on-line state in status blocks; on
  // other ports the port module's power state is the only news of it.
  std::atomic<bool> line_port_{false};
  TimedLock lock_;
  std::atomic<uint8_t> open_owners_{0};
  std::atomic<bool> stop_{false};
  std::atomic<uint32_t> power_losses_{0};
  platform::Event stop_event_{true, false};
  std::thread status_thread_;
};

// The channel of the port, held by the table while any owner has it registered;
// the caller keeps it for as long as it holds its registration, instead of
// looking a handle up again. Null when the port is already registered for
// `owner`, the module cannot be bound or it refuses the port. A new port's
// channel runs on `clock`. The managing module is loaded and called with no lock
// held; a registration or release of the same port meanwhile waits for it.
std::shared_ptr<PortChannel> RegisterPort(const std::string& device_name,
                                          const std::string& port_name, uint8_t owner,
                                          platform::Registry& registry,
                                          platform::Clock& clock = platform::DefaultClock());
// 1 when `owner` held the registration with that handle and has let it go; 0
// for an unknown handle or an owner that does not hold it.
int32_t UnregisterPort(uint8_t owner, int32_t handle);
// The channel that holds `handle`, or null: for test equipment that knows only
// the handle. The service object keeps what RegisterPort gave it.
std::shared_ptr<PortChannel> FindChannel(int32_t handle);

}  // namespace qz381::so
