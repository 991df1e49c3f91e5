// Message windows on Windows are the system's own: message-only windows
// (HWND_MESSAGE) of a class each module registers for itself, PostMessage,
// and the thread's message queue. Every module of ours links its own copy of
// the platform, so only the system's queue is shared between them: whichever
// module pumps a thread runs the procedures of every window on it, the service
// object's event window and COM's own windows included.
//
// Nothing here keeps state per thread (no thread_local): a DLL's thread-local
// objects with destructors pin it in memory and run its detach code on a
// thread that is ending, which deadlocks under the loader lock.
#include <windows.h>

#include <climits>
#include <utility>

#include "platform/msgwindow.h"
#include "platform/sync.h"

namespace qz381::platform {

// The thread's identity for WakeThread; the handle keeps its id from being
// given to a new thread and tells whether it has ended.
class ThreadQueue {
 public:
  ThreadQueue(DWORD id, HANDLE thread) : id_(id), thread_(thread) {}
  ~ThreadQueue() {
    if (thread_) ::CloseHandle(thread_);
  }
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  DWORD id() const { return id_; }
  bool Ended() const { return !thread_ || ::WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }

 private:
  DWORD id_;
  HANDLE thread_;
};

namespace {

// Thread messages (no window) of our own. A pump posts a mark behind what is
// queued and stops when the mark comes round; the mark carries the address of
// the pump's own "done" flag and this module's tag, so only pumps of this
// module ever touch the flag (recursive pumps of this module set the flags of
// the pumps below them in order).
constexpr UINT kPumpMark = WM_APP + 0x381;
constexpr UINT kWake = WM_APP + 0x382;
constexpr char kClassName[] = "QZ381MessageWindow";
const char g_module_tag = 0;
// What the system lets wait in one thread's queue.
constexpr int kQueueLimit = 10000;

LRESULT CALLBACK WindowProcedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);

struct WindowData {
  std::shared_ptr<const WindowProc> proc;
  bool adopted = false;  // the window owns it (freed at WM_NCDESTROY)
};

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&WindowProcedure), &module);
  return module;
}

// The class is this module's (its instance handle tells it from the same name
// in another module). A DLL's classes outlive the DLL: one left by an earlier
// load of this module at another address is replaced.
bool RegisterWindowClass(HINSTANCE module) {
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExA(module, kClassName, &existing)) {
    if (existing.lpfnWndProc == &WindowProcedure) return true;
    ::UnregisterClassA(kClassName, module);
  }
  WNDCLASSEXA window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &WindowProcedure;
  window_class.hInstance = module;
  window_class.lpszClassName = kClassName;
  return ::RegisterClassExA(&window_class) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// What the system sends a window while it is made and destroyed stays with
// the system; the procedure sees what is posted to it (and device changes).
bool ForTheProcedure(UINT msg) {
  return msg == WM_COMMAND || msg == WM_DEVICECHANGE || msg >= WM_USER;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    auto* data = static_cast<WindowData*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    data->adopted = true;
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
    return ::DefWindowProcA(window, msg, wparam, lparam);
  }
  auto* data = reinterpret_cast<WindowData*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    delete data;
    return ::DefWindowProcA(window, msg, wparam, lparam);
  }
  if (data && ForTheProcedure(msg)) {
    // A copy, so that a procedure that destroys its own window keeps running.
    const std::shared_ptr<const WindowProc> proc = data->proc;
    if (*proc &&
        (*proc)(Message{msg, static_cast<uintptr_t>(wparam), static_cast<intptr_t>(lparam)}))
      return 0;
  }
  return ::DefWindowProcA(window, msg, wparam, lparam);
}

// A thread has a message queue once it calls into the window manager; posting
// to a thread without one fails.
void EnsureQueue() {
  MSG ignored;
  ::PeekMessageA(&ignored, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

// Runs what was queued before the call. A wake taken on the way is put back
// unless the caller is the wait it was meant for.
int Pump(bool keep_wakes) {
  EnsureQueue();
  bool done = false;
  // Without a mark (the queue is full) at most a full queue's worth runs, so
  // a pump still ends while other threads keep posting.
  const bool marked =
      ::PostThreadMessageA(::GetCurrentThreadId(), kPumpMark, reinterpret_cast<WPARAM>(&done),
                           reinterpret_cast<LPARAM>(&g_module_tag));
  int budget = marked ? INT_MAX : kQueueLimit;
  int ran = 0;
  bool woken = false, quit = false;
  WPARAM quit_code = 0;
  MSG m;
  while (!done && budget-- > 0 && ::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.hwnd == nullptr && m.message == kPumpMark) {
      if (m.lParam == reinterpret_cast<LPARAM>(&g_module_tag))
        *reinterpret_cast<bool*>(m.wParam) = true;
      continue;
    }
    if (m.hwnd == nullptr && m.message == kWake) {
      woken = true;
      continue;
    }
    if (m.message == WM_QUIT) {  // the thread's owner asked its own loop to end
      quit = true;
      quit_code = m.wParam;
      continue;
    }
    // A message for a window destroyed meanwhile goes nowhere and is not counted.
    const bool live = m.hwnd != nullptr && ::IsWindow(m.hwnd);
    ::DispatchMessageA(&m);
    if (live) ++ran;
  }
  if (woken && keep_wakes) ::PostThreadMessageA(::GetCurrentThreadId(), kWake, 0, 0);
  if (quit) ::PostQuitMessage(static_cast<int>(quit_code));
  return ran;
}

}  // namespace

MessageWindow::MessageWindow(std::string name, std::shared_ptr<ThreadQueue> queue, uint64_t id)
    : name_(std::move(name)), queue_(std::move(queue)), id_(id) {}

std::unique_ptr<MessageWindow> MessageWindow::Create(std::string name, WindowProc proc) {
  const HINSTANCE module = ThisModule();
  if (!module || !RegisterWindowClass(module)) return nullptr;
  auto* data = new WindowData{std::make_shared<const WindowProc>(std::move(proc))};
  HWND window = ::CreateWindowExA(0, kClassName, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  module, data);
  if (!window) {
    if (!data->adopted) delete data;
    return nullptr;
  }
  return std::unique_ptr<MessageWindow>(
      new MessageWindow(std::move(name), nullptr, reinterpret_cast<uintptr_t>(window)));
}

// The system drops what is still queued for the window. A window whose thread
// has ended is gone already and this does nothing.
MessageWindow::~MessageWindow() {
  ::DestroyWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(id_)));
}

bool MessageWindow::Post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  return ::PostMessageA(reinterpret_cast<HWND>(static_cast<uintptr_t>(id_)), msg, wparam, lparam) !=
         0;
}

int PumpMessages() {
  return Pump(true);
}

int WaitAndPumpMessages(uint32_t timeout_ms) {
  EnsureQueue();
  // Returns at once while anything is queued, seen before or not.
  ::MsgWaitForMultipleObjectsEx(0, nullptr, timeout_ms == kInfinite ? INFINITE : timeout_ms,
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  return Pump(false);
}

std::shared_ptr<ThreadQueue> CurrentThreadQueue() {
  EnsureQueue();  // so that a wake posted before the thread's first wait is kept
  HANDLE thread = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &thread,
                    SYNCHRONIZE, FALSE, 0);
  return std::make_shared<ThreadQueue>(::GetCurrentThreadId(), thread);
}

// A wake is a thread message: it waits in the queue until a wait takes it.
void WakeThread(const std::shared_ptr<ThreadQueue>& queue) {
  if (!queue || queue->Ended()) return;
  ::PostThreadMessageA(queue->id(), kWake, 0, 0);
}

}  // namespace qz381::platform
