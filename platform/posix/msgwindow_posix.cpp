// Message windows on POSIX: each thread has one message queue held by the
// platform runtime, shared by every module loaded in the process as the
// operating system's queue is on Windows.
#include "platform/msgwindow.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/sync.h"

namespace qz381::platform {

// One per thread that uses windows. Window procedures live here rather than in
// the MessageWindow so that a procedure that destroys its own window keeps running
// on the copy the pump holds. The lock guards data only: no procedure is ever
// called with it held, so procedures may post, pump and create or destroy windows.
class ThreadQueue {
 public:
  struct Entry {
    uint64_t seq;
    uint64_t window;
    Message message;
  };

  std::mutex mu;
  std::condition_variable cv;
  std::deque<Entry> entries;
  std::unordered_map<uint64_t, std::shared_ptr<const WindowProc>> windows;
  uint64_t next_seq = 0;
  bool woken = false;
  bool closed = false;  // the owner thread has ended
};

namespace {

// Closes the queue when its thread ends, so that posts to windows that outlive
// the thread fail instead of piling up.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    std::lock_guard lock(queue->mu);
    queue->closed = true;
    queue->entries.clear();
    queue->windows.clear();
  }
};

thread_local QueueHolder t_holder;

const std::shared_ptr<ThreadQueue>& OwnQueue() {
  if (!t_holder.queue) t_holder.queue = std::make_shared<ThreadQueue>();
  return t_holder.queue;
}

std::atomic<uint64_t> g_next_window_id{1};

}  // namespace

MessageWindow::MessageWindow(std::string name, std::shared_ptr<ThreadQueue> queue, uint64_t id)
    : name_(std::move(name)), queue_(std::move(queue)), id_(id) {}

std::unique_ptr<MessageWindow> MessageWindow::Create(std::string name, WindowProc proc) {
  std::shared_ptr<ThreadQueue> queue = CurrentThreadQueue();
  uint64_t id = g_next_window_id.fetch_add(1, std::memory_order_relaxed);
  {
    std::lock_guard lock(queue->mu);
    queue->windows.emplace(id, std::make_shared<const WindowProc>(std::move(proc)));
  }
  return std::unique_ptr<MessageWindow>(new MessageWindow(std::move(name), std::move(queue), id));
}

MessageWindow::~MessageWindow() {
  // Released after the lock: what the procedure captured may post when destroyed.
  std::shared_ptr<const WindowProc> proc;
  std::lock_guard lock(queue_->mu);
  auto it = queue_->windows.find(id_);
  if (it != queue_->windows.end()) {
    proc = std::move(it->second);
    queue_->windows.erase(it);
  }
  std::erase_if(queue_->entries, [this](const ThreadQueue::Entry& e) { return e.window == id_; });
}

bool MessageWindow::Post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  // Notifying under the lock keeps `this` untouched once the owner can see the
  // message: its procedure may destroy this window while Post is still returning.
  std::lock_guard lock(queue_->mu);
  if (queue_->closed || !queue_->windows.contains(id_)) return false;
  queue_->entries.push_back({queue_->next_seq++, id_, Message{msg, wparam, lparam}});
  queue_->cv.notify_one();
  return true;
}

int PumpMessages() {
  ThreadQueue& q = *OwnQueue();
  uint64_t end;
  {
    std::lock_guard lock(q.mu);
    end = q.next_seq;
  }
  // Taking one entry at a time (rather than a batch) lets a recursive pump run the
  // rest of this batch in order without this loop running it again.
  int ran = 0;
  for (;;) {
    Message message;
    std::shared_ptr<const WindowProc> proc;
    {
      std::lock_guard lock(q.mu);
      if (q.entries.empty() || q.entries.front().seq >= end) break;
      ThreadQueue::Entry entry = q.entries.front();
      q.entries.pop_front();
      auto it = q.windows.find(entry.window);
      if (it == q.windows.end()) continue;
      proc = it->second;
      message = entry.message;
    }
    if (*proc) (*proc)(message);
    ++ran;
  }
  return ran;
}

int WaitAndPumpMessages(uint32_t timeout_ms) {
  ThreadQueue& q = *OwnQueue();
  {
    std::unique_lock lock(q.mu);
    auto ready = [&q] { return !q.entries.empty() || q.woken; };
    if (timeout_ms == kInfinite) {
      q.cv.wait(lock, ready);
    } else {
      q.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    q.woken = false;
  }
  return PumpMessages();
}

std::shared_ptr<ThreadQueue> CurrentThreadQueue() {
  return OwnQueue();
}

void WakeThread(const std::shared_ptr<ThreadQueue>& queue) {
  if (!queue) return;
  {
    std::lock_guard lock(queue->mu);
    if (queue->closed) return;
    queue->woken = true;
  }
  queue->cv.notify_one();
}

}  // namespace qz381::platform
