#pragma once
// CPOSPrinter: the service object of one logical device. The control object
// creates it by ProgID and drives it through its dispatch interface; every
// dispatch method runs on the control object's thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/opos.h"
#include "platform/clock.h"
#include "platform/com.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "ports/common/port_contract.h"
#include "so/core/event_delivery.h"
#include "so/core/event_record.h"
#include "so/core/port_channel.h"
#include "so/core/property_table.h"
#include "so/core/status_monitor.h"
#include "so/output/bitmap.h"
#include "so/output/device_settings.h"
#include "so/output/output_queue.h"

namespace qz381::so {

class CPOSPrinter final : public IDispatch,
                          public PortChannel::StatusSink,
                          private output::OutputDevice,
                          private EventDelivery::Target,
                          private StatusMonitor::Listener {
 public:
  // The registry the device entry and the module location come from.
  // Its pauses (the printer settling after a claim), the output thread and the
  // port's status thread run on `clock`.
  explicit CPOSPrinter(platform::Registry& registry = platform::DefaultRegistry(),
                       platform::Clock& clock = platform::DefaultClock());
  CPOSPrinter(const CPOSPrinter&) = delete;
  CPOSPrinter& operator=(const CPOSPrinter&) = delete;

  // IUnknown / IDispatch
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override;

  // The dispatch methods, by identifier (1..36).
  int32_t GetPropertyNumber(int32_t index);
  void SetPropertyNumber(int32_t index, int32_t number);
  std::string GetPropertyString(int32_t index);
  void SetPropertyString(int32_t index, const std::string& text);
  int32_t OpenService(const std::string& device_class, const std::string& device_name,
                      IDispatch* dispatch);
  int32_t Close();
  int32_t ClaimDevice(int32_t timeout);
  int32_t ReleaseDevice();
  int32_t CheckHealth(int32_t level);
  int32_t DirectIO(int32_t command, int32_t* data, std::string* text);
  int32_t COFreezeEvents(int32_t freeze);
  int32_t ClearOutput();
  int32_t CutPaper(int32_t percentage);
  int32_t PrintBarCode(int32_t station, const std::string& data, int32_t symbology, int32_t height,
                       int32_t width, int32_t alignment, int32_t text_position);
  int32_t PrintBitmap(int32_t station, const std::string& file_name, int32_t width,
                      int32_t alignment);
  int32_t PrintImmediate(int32_t station, const std::string& data);
  int32_t PrintNormal(int32_t station, const std::string& data);
  int32_t PrintTwoNormal(int32_t stations, const std::string& data1, const std::string& data2);
  int32_t RotatePrint(int32_t station, int32_t rotation);
  int32_t SetBitmap(int32_t number, int32_t station, const std::string& file_name, int32_t width,
                    int32_t alignment);
  int32_t SetLogo(int32_t location, const std::string& data);
  int32_t TransactionPrint(int32_t station, int32_t control);
  int32_t ValidateData(int32_t station, const std::string& data);
  int32_t ClearPrintArea();
  int32_t pageModePrint(int32_t control);
  // BeginInsertion, BeginRemoval, EndInsertion, EndRemoval, ChangePrintSide,
  // MarkFeed, ResetStatistics, RetrieveStatistics, UpdateStatistics,
  // CompareFirmwareVersion and UpdateFirmware.
  int32_t Unsupported();

  // The common state check, by the opos::kNeed* bits.
  bool CheckState(int32_t bits);

  // Configuration (run by OpenService in this order).
  int32_t LoadDeviceEntry(const std::string& device_name);
  int32_t LoadProfile(const std::string& path);

  // PortChannel::StatusSink: called by the port status thread of the claimed
  // port; handed to the status monitor, which ignores them while the device is
  // disabled.
  void OnAsbBlock(const uint8_t* block) override;
  void OnCartridgeBlock(const uint8_t* block) override;
  void OnPowerState(int32_t code) override;

  // Event delivery: any thread.
  void PostEvent(std::unique_ptr<EventRecord> record);

  // The output queue, for tests.
  output::OutputQueue& output_queue() { return *queue_; }
  EventDelivery& event_delivery() { return delivery_; }
  StatusMonitor& status_monitor() { return status_; }

  const ports::DeviceOption& device_option() const { return option_; }
  // The port module's handle of the registered port (0 when not open): what
  // test equipment playing the module knows the port by.
  int32_t port_handle() const { return channel_ ? channel_->handle() : 0; }

 public:
  // What the bitmap methods read of the device, as one snapshot.
  struct PictureSettings {
    int32_t type = 1;
    bool colour = false;
    bool letter_quality = false;
    int32_t rotation = 1;
    int32_t width_dots = 0;  // the width argument in dots; 0: the picture's own
  };

 private:
  ~CPOSPrinter();
  void SetDeviceEnabled(int32_t value);
  void SetFreezeEvents(int32_t value);
  bool PreparePrinter(int32_t lock_timeout);
  // CheckHealth's levels: the command probe, and the printed test page.
  bool InternalCheck();
  int32_t ExternalCheck();
  static std::string TestPageText(const PropertyTable::Locked& settings);
  // PrintBitmap / SetBitmap: the settings they read, taken under the settings
  // lock, and the file loaded, turned (print only) and scaled as those settings
  // and the width ask; false when it cannot be.
  PictureSettings SnapshotPictureSettings(int32_t width);
  bool PreparePicture(const std::string& file, const PictureSettings& settings, bool print,
                      output::Picture* out);
  void ResetForOpen();
  void ReleaseOpenResources();
  // Print data through BinaryConversion and the translation, as one string.
  std::string Translate(std::string data, int32_t* translation_result = nullptr);
  int32_t Submit(bool async, std::vector<std::string> list);

  // output::OutputDevice
  bool Claimed() override { return claimed_ != 0; }
  bool AsyncMode() override { return async_mode_ != 0; }
  int32_t PrinterType() override { return props_.Lock().out.Type; }
  std::string PortName() override { return std::string(ports::PortNameOf(option_)); }
  uint32_t ChunkSize() override { return option_.outputBufferSize; }
  std::string BuildPrologue() override;
  void PrologueNotSent() override;
  void OutputDiscarded() override;
  std::string PageModeHeader() override;
  output::ResultPair StatusCheck() override;
  void ResetRotation() override;
  bool LockPort(int32_t timeout_ms) override;
  void UnlockPort() override;
  int32_t WritePortBytes(const uint8_t* bytes, int32_t count) override;
  int32_t ReadPortBytes(uint8_t* buffer, int32_t count, uint32_t timeout_ms) override;
  void ClearPort() override;
  void AbortPortWrites() override;
  uint32_t PortLosses() override;
  void SetState(int32_t state) override;
  void PostOutputComplete(int32_t output_id) override;
  void PostError(int32_t rc, int32_t rce, int32_t locus, int32_t response) override;
  void PostIdle() override;
  bool WaitErrorResponse(platform::Event& stop, int32_t* response) override;
  // EventDelivery::Target: calls the control object back.
  void Deliver(EventRecord& record) override;
  // StatusMonitor::Listener
  void PostStatus(int32_t code) override;
  void PrinterCameOnline() override;
  bool StatusStillCurrent(int32_t code);
  void CallCo(DISPID id, VARIANT* args, UINT count);
  int32_t Fail(int32_t code, int32_t extended = 0);

  std::atomic<ULONG> refs_{1};
  platform::Registry& registry_;
  platform::Clock& clock_;

  // Configuration.
  ports::DeviceOption option_{};
  std::string profile_path_;
  std::string device_name_;  // logical device name

  std::atomic<int32_t> result_code_{0}, result_code_extended_{0};

  // Device state.
  std::atomic<int32_t> claimed_{0}, device_enabled_{0};
  int32_t freeze_events_ = 0;
  int32_t state_ = opos::OPOS_S_CLOSED;  // guarded by state_mutex_
  std::atomic<int32_t> async_mode_{0};
  int32_t co_freeze_ = 0;

  // The registered port, from OpenService to Close; the output and status
  // threads that use it are ended before it is let go.
  std::shared_ptr<PortChannel> channel_;
  // The output queue's port writes under way, and whether they are aborted
  // (from the output queue's Stop to the next claim). Checked in opposite
  // order by a writer and by the abort, so that a write either sees the abort
  // or is seen by it and has its port closed under it.
  std::atomic<int32_t> port_writes_{0};
  std::atomic<bool> port_writes_aborted_{false};

  // Control object.
  IDispatch* co_ = nullptr;
  DISPID dispid_direct_io_ = 0, dispid_error_ = 0, dispid_output_complete_ = 0,
         dispid_status_update_ = 0;

  // Threads and events.
  std::mutex state_mutex_;  // state_
  EventDelivery delivery_{*this};
  StatusMonitor status_{*this};
  // The settings and their lock: the application's thread translates and
  // changes properties while the output thread builds prologues.
  PropertyTable props_{[this] { queue_->PageHeaderNeeded(); }};
  uint8_t last_prologue_settings_ = 0;  // pending settings the last prologue consumed; under
                                        // the table's lock
  std::unique_ptr<output::OutputQueue> queue_;
};

}  // namespace qz381::so
