#include "tools/qz381/status_cmd.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include "common/opos.h"
#include "platform/local_time.h"
#include "tools/qz381/session.h"

namespace qz381::tool {

namespace {

using namespace opos;

std::string Now() {
  const std::optional<std::tm> local = platform::LocalTime(std::time(nullptr));
  if (!local) return "--:--:--";
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &*local);
  return text;
}

class StatusLines : public co::EventListener {
 public:
  explicit StatusLines(const std::function<void(const std::string&)>& line) : line_(line) {}
  void OnStatusUpdate(int32_t data) override { line_(Now() + " " + StatusInWords(data)); }

 private:
  const std::function<void(const std::string&)>& line_;
};

}  // namespace

int RunStatus(const StatusWatch& watch, std::string* error) {
  platform::Registry& reg = platform::DefaultRegistry();
  std::string device;
  if (!ChooseDevice(reg, watch.device, &device, error)) return 1;
  co::PosPrinter printer(reg);
  // --once says the state as it stands, not the events that led to it.
  const std::function<void(const std::string&)> events =
      watch.once ? [](const std::string&) {} : watch.line;
  StatusLines lines(events);
  printer.AddListener(&lines);
  struct Detach {
    co::PosPrinter& printer;
    co::EventListener* listener;
    ~Detach() {
      printer.Close();
      printer.RemoveListener(listener);
    }
  } detach{printer, &lines};

  // Power reporting can only be asked for before enabling.
  const bool open = OpenClaimEnable(printer, device, error, [&] {
    int32_t rc = 0;
    printer.SetNumber("PowerNotify", 1, &rc);
  });
  if (!open) return 1;
  if (watch.once) {
    // The printer's first status block follows enabling; the power state
    // leaves "unknown" when it has been read.
    int32_t cover = 0, empty = 0, near_end = 0, power = OPOS_PS_UNKNOWN;
    for (int i = 0; i < 40 && power == OPOS_PS_UNKNOWN && !watch.stop(); ++i) {
      printer.GetNumber("PowerState", &power);
      if (power == OPOS_PS_UNKNOWN) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    printer.GetNumber("CoverOpen", &cover);
    printer.GetNumber("RecEmpty", &empty);
    printer.GetNumber("RecNearEnd", &near_end);
    printer.GetNumber("PowerState", &power);
    watch.line(device + ": " + (cover ? "cover open" : "cover closed") + ", " +
               (empty      ? "paper out"
                : near_end ? "paper near end"
                           : "paper ok") +
               ", " + StatusInWords(power));
  } else {
    watch.line(Now() + " watching " + device + " (Ctrl-C ends)");
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    while (!watch.stop()) never.wait_for(lock, std::chrono::milliseconds(100));
  }
  printer.ReleaseDevice();
  return 0;
}

}  // namespace qz381::tool
