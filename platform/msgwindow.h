#pragma once
// Message windows: a window belongs to the thread that created it; any thread may
// post to it; its procedure runs only on the owner thread while that thread pumps.
// This is the mechanism by which events reach the control object on its own thread.
// On Windows these are the system's message-only windows and its message queue per
// thread (win32/msgwindow_win32.cpp), so a thread's pump also runs COM's windows; on
// POSIX each thread has one message queue held by the platform runtime (shared by
// every module loaded in the process, like the operating system's queue).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qz381::platform {

inline constexpr uint32_t kMsgCommand = 0x0111;  // WM_COMMAND
inline constexpr uint32_t kMsgUser = 0x0400;     // WM_USER

struct Message {
  uint32_t msg = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

// Returns true when the message was handled.
using WindowProc = std::function<bool(const Message&)>;

class ThreadQueue;

class MessageWindow {
 public:
  // Creates a window owned by the calling thread. Never fails here; the pointer
  // is null only when the platform cannot create windows.
  static std::unique_ptr<MessageWindow> Create(std::string name, WindowProc proc);
  // Must run on the owner thread. Messages still queued for the window are dropped
  // without running the procedure.
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Any thread. False when the owner thread's queue no longer accepts messages.
  bool Post(uint32_t msg, uintptr_t wparam, intptr_t lparam);
  const std::string& name() const { return name_; }
  // The system's handle of the window on Windows (an HWND, for calls that name
  // a window, such as device-change registrations); on POSIX a number that
  // means nothing outside this interface.
  uintptr_t handle() const { return static_cast<uintptr_t>(id_); }

 private:
  MessageWindow(std::string name, std::shared_ptr<ThreadQueue> queue, uint64_t id);
  std::string name_;
  std::shared_ptr<ThreadQueue> queue_;
  uint64_t id_;
};

// Owner-thread side. Runs every message already queued for the calling thread's
// windows (messages posted while pumping wait for the next call); returns how many
// ran. A procedure may create or destroy windows and may pump recursively.
int PumpMessages();
// Waits up to timeout_ms until a message for the calling thread is queued or
// WakeThread was called for it, then pumps. Returns the number of messages run.
int WaitAndPumpMessages(uint32_t timeout_ms);

// The calling thread's queue (created on first use), so that another thread can
// wake it. Holding it keeps no window and no message alive.
std::shared_ptr<ThreadQueue> CurrentThreadQueue();
// Any thread. Makes the queue's thread return from its current WaitAndPumpMessages,
// or from its next one when it is not waiting (a wake is never lost); a stop
// request uses it to interrupt a pumping thread. Does nothing after the thread ended.
void WakeThread(const std::shared_ptr<ThreadQueue>& queue);

}  // namespace qz381::platform
