#pragma once
// A stand-in for the OPOS POSPrinter control object. It opens a logical device
// the way the control object does (device key -> ProgID -> CLSID ->
// InprocServer32 -> class factory), owns the thread that every call into the
// service object and every event runs on, and hands events to listeners.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/health_dialog.h"
#include "platform/registry.h"

namespace qz381::co {

// Events arrive on the control object's thread, one at a time, in order.
class EventListener {
 public:
  virtual ~EventListener() = default;
  virtual void OnStatusUpdate(int32_t /*data*/) {}
  virtual void OnOutputComplete(int32_t /*output_id*/) {}
  // `response` holds the service object's default answer; change it to answer.
  virtual void OnError(int32_t /*rc*/, int32_t /*rce*/, int32_t /*locus*/, int32_t* /*response*/) {}
  virtual void OnDirectIO(int32_t /*number*/, int32_t* /*data*/, std::string* /*text*/) {}
};

// The interactive health check's dialog while the service object has it shown
// (common/health_dialog.h). Valid only during ShowHealthDialog; its calls run
// on the control object's thread and may come from any thread.
class HealthDialog {
 public:
  virtual ~HealthDialog() = default;
  // "Printer Check Health : - Interactive -" and the device name.
  virtual const std::string& title() const = 0;
  // Four lines: the service object's description, its version, the device's
  // description and its name.
  virtual const std::string& info() const = 0;
  // Prints the test page; answers the print's result code and sets the
  // result text ("Success (0/0)"). Blocks until the page is out.
  virtual int32_t Print(std::string* result_text) = 0;
  virtual opos::HealthStatus Status() = 0;
};

// Supplied by the program: shows the dialog and returns when the operator
// closes it. Runs on the thread that called CheckHealth (a window's thread
// shows its dialog there), or on the control object's thread when CheckHealth
// came from a listener; the control object's thread keeps delivering events
// meanwhile.
class HealthDialogProvider {
 public:
  virtual ~HealthDialogProvider() = default;
  virtual void ShowHealthDialog(HealthDialog& dialog) = 0;
};

// One argument of a dispatch call. In-out arguments (long*, BSTR*) carry the
// service object's answer back in the same Arg.
struct Arg {
  enum Kind { kLong, kString } kind = kLong;
  int32_t number = 0;
  std::string text;
  static Arg Long(int32_t n) { return Arg{kLong, n, {}}; }
  static Arg String(std::string s) { return Arg{kString, 0, std::move(s)}; }
};

class PosPrinter {
 public:
  explicit PosPrinter(platform::Registry& registry = platform::DefaultRegistry());
  ~PosPrinter();  // closes the device and ends the control object's thread
  PosPrinter(const PosPrinter&) = delete;
  PosPrinter& operator=(const PosPrinter&) = delete;

  // 0 when open; 109 no device entry of that name; 104 the service object cannot
  // be created from its ProgID; 106 already open; else OpenService's answer.
  int32_t Open(const std::string& device_name);
  int32_t Close();
  bool IsOpen() const;

  // Any dispatch method by name (matched without regard to case). Answers the
  // method's result; -1 and a trace line for an unknown name or wrong arguments.
  // Before Open every method answers 101.
  int32_t Call(std::string_view method, std::vector<Arg>& args);

  int32_t ClaimDevice(int32_t timeout);
  int32_t ReleaseDevice();
  int32_t PrintNormal(int32_t station, const std::string& data);
  int32_t CutPaper(int32_t percentage);

  // Properties by name. Unknown names answer false.
  bool GetNumber(std::string_view property, int32_t* value);
  bool GetString(std::string_view property, std::string* value);
  // Answers the ResultCode the setter left.
  bool SetNumber(std::string_view property, int32_t value, int32_t* result_code);
  bool SetString(std::string_view property, const std::string& value, int32_t* result_code);
  int32_t ResultCode();
  int32_t ResultCodeExtended();

  // The dialog of CheckHealth's interactive level; null (the default) has none,
  // and the check then runs as if the dialog was closed without printing.
  // Must outlive its use; set it while no call is in progress.
  void SetHealthDialogProvider(HealthDialogProvider* provider);

  // Listeners are called on the control object's thread; add them before Open.
  void AddListener(EventListener* listener);
  void RemoveListener(EventListener* listener);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qz381::co
