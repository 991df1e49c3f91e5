#pragma once
// The interactive health check's dialog. The service object has no window of
// its own to show: the program hosting the control object shows the dialog
// (a window in the setup utility, a terminal in `qz381`), and the service
// object lends it a small dispatch object through which the dialog prints the
// test page and reads the printer's status.
//
// The way there is the control object's callback interface, which the service
// object already holds: during an interactive CheckHealth it looks up
// kHealthDialogCallback there and calls it with (title, device information,
// the device object). A control object without that callback has no display;
// the dialog then counts as closed without printing. No registry value and no
// property is involved, so nothing changes for a control object of another
// vendor.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/com.h"

namespace qz381::opos {

// SOHealthDialog(BSTR title, BSTR info, IDispatch* device); returns when the
// dialog is closed.
inline constexpr char kHealthDialogCallback[] = "SOHealthDialog";

// The device object's two methods.
// Print(BSTR* result_text) -> long: prints the test page (the external check)
// and answers its result code, with the result text ("Success (0/0)").
inline constexpr DISPID kHealthDialogPrint = 1;
// Status(long* power_state, long* cover_open, long* receipt_empty,
//        long* receipt_near_end).
inline constexpr DISPID kHealthDialogStatus = 2;

struct HealthStatus {
  int32_t power_state = 0;  // 2001 on line, 2002 to 2004 off or off line
  int32_t cover_open = 0;
  int32_t receipt_empty = 0;
  int32_t receipt_near_end = 0;
};

// How the dialog names a power state: "Online" for 2001, "Offline" for 2002 to
// 2004, "Unknown" otherwise.
inline const char* PowerStateWord(int32_t power_state) {
  return power_state == 2001                          ? "Online"
         : power_state >= 2002 && power_state <= 2004 ? "Offline"
                                                      : "Unknown";
}

// The service object's side: the device object handed to the dialog. It is
// reference counted, since the host may keep it past the dialog; after
// Close() its methods answer E_UNEXPECTED and reach nothing, and Close waits
// for a call in progress. Calls may come from any thread, one at a time.
class HealthDialogDevice final : public IDispatch {
 public:
  using PrintFn = std::function<int32_t(std::string* result_text)>;
  using StatusFn = std::function<HealthStatus()>;
  // Made with one reference, the caller's.
  HealthDialogDevice(PrintFn print, StatusFn status);
  void Close();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override;

 private:
  ~HealthDialogDevice() = default;

  std::atomic<ULONG> references_{1};
  std::mutex mutex_;  // held through a call, so Close waits for it
  bool closed_ = false;
  PrintFn print_;
  StatusFn status_;
};

// Shows the dialog through the control object's callback interface and
// returns when it closes. False, with a trace line, when the control object
// has no dialog callback or the call failed.
bool ShowHealthDialog(IDispatch* control_object, const std::string& title, const std::string& info,
                      HealthDialogDevice* device);

// The host's side: the device object's methods. A failed call answers -1 and
// "" (Print) or an all-zero status.
int32_t HealthDialogPrint(IDispatch* device, std::string* result_text);
HealthStatus HealthDialogStatus(IDispatch* device);

}  // namespace qz381::opos
