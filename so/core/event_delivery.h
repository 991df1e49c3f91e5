#pragma once
// EventDelivery: the records the service object raises, queued from any thread
// and handed to the control object one at a time on the thread that opened the
// device, through its event window, behind two gates (the service object's
// FreezeEvents and the control object's COFreezeEvents).
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/msgwindow.h"
#include "platform/sync.h"
#include "so/core/event_record.h"

namespace qz381::so {

class EventDelivery {
 public:
  // Who the records are for.
  class Target {
   public:
    // Runs on the thread that called Start, from its message pump, with no lock
    // of EventDelivery held: it may call back into the service object (Close
    // included). An error record's answer is given with AnswerError.
    virtual void Deliver(EventRecord& record) = 0;

   protected:
    ~Target() = default;
  };

  explicit EventDelivery(Target& target);
  EventDelivery(const EventDelivery&) = delete;
  EventDelivery& operator=(const EventDelivery&) = delete;
  // Stops the event thread; the window goes with the object.
  ~EventDelivery();

  // Creates the event window on the calling thread (the one whose pump delivers)
  // and starts the event thread with both gates open and nothing queued; false
  // when the window cannot be made. Not while started.
  bool Start();
  // Ends the event thread: RequestStop wakes every wait of it (any thread, also
  // from inside Deliver); Join waits for it to end and drops what was not
  // delivered. Neither blocks on the opening thread's pump.
  void RequestStop();
  void Join();
  // The window is destroyed on the thread that made it; Stop leaves it so that a
  // message already posted finds its procedure.
  void DestroyWindow();

  // Any thread. Dropped (an error answered "clear") when not started or between
  // Release and Resume.
  void Post(std::unique_ptr<EventRecord> record);
  // Drops every record not yet delivered, the one on its way included, and
  // whatever is posted until Resume; errors among them are answered "clear", as
  // nobody else will answer the output thread that waits.
  void Release();
  void Resume();
  // Records waiting behind the gates (not the one on its way).
  size_t Queued();

  // The gates: a closed one holds every record until it opens again.
  void SetServiceGate(bool open);
  void SetControlGate(bool open);

  // The answer to an error record. ExpectErrorResponse comes before the record
  // is posted; WaitErrorResponse answers false when `stop` is set first.
  void ExpectErrorResponse();
  void AnswerError(int32_t response);
  bool WaitErrorResponse(platform::Event& stop, int32_t* response);

 private:
  void ThreadMain();
  bool OnWindowMessage(const platform::Message& message);
  // A record dropped without delivery (mutex_ held).
  void AnswerDroppedLocked(const EventRecord& record);

  Target& target_;
  std::mutex mutex_;  // everything below but the window and the thread
  std::deque<std::unique_ptr<EventRecord>> events_;
  std::unique_ptr<EventRecord> in_delivery_;  // the record whose message is on its way
  uint64_t delivery_seq_ = 0;
  bool started_ = false;
  bool released_ = false;  // from Release to Resume
  bool stop_ = false;
  int32_t error_response_ = 0;
  platform::Event queue_not_empty_{true, false}, service_gate_{true, true},
      control_gate_{true, true}, stop_event_{true, false}, delivered_{true, false},
      response_{true, false};
  std::unique_ptr<platform::MessageWindow> window_;
  std::thread thread_;
};

}  // namespace qz381::so
