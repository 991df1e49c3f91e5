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

  // Listeners are called on the control object's thread; add them before Open.
  void AddListener(EventListener* listener);
  void RemoveListener(EventListener* listener);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qz381::co
