#pragma once
// A CPOSPrinter on an in-memory registry, bound to the fake port module, with a
// control object that records its callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/opos.h"
#include "common/properties.h"
#include "platform/clock_fake.h"
#include "platform/com.h"
#include "so/core/pos_printer.h"
#include "so/core/testdata/test_support.h"

namespace qz381::testing {

using namespace qz381::opos;

// The control object's side of the callbacks: answers GetIDsOfNames for the
// names it was given and records every call.
class RecordingCo final : public IDispatch {
 public:
  struct Call {
    DISPID id;
    std::vector<int32_t> args;  // in declaration order; by-reference longs read
    int32_t state_during = 0;   // the service object's State while being called
  };
  static constexpr DISPID kDirectIO = 1, kError = 2, kOutputComplete = 3, kStatusUpdate = 4;

  explicit RecordingCo(std::set<std::u16string> names = {u"SODirectIO", u"SOError",
                                                         u"SOOutputComplete", u"SOStatusUpdate"})
      : names_(std::move(names)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    static const char16_t* const kAll[] = {u"SODirectIO", u"SOError", u"SOOutputComplete",
                                           u"SOStatusUpdate"};
    std::u16string wanted(reinterpret_cast<const char16_t*>(names[0]));
    for (DISPID i = 0; i < 4 && count == 1; ++i)
      if (wanted == kAll[i] && names_.count(wanted)) {
        ids[0] = i + 1;
        return S_OK;
      }
    ids[0] = -1;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    Call call{id, {}, probe ? probe->GetPropertyNumber(PIDX_State) : 0};
    for (UINT i = p->cArgs; i-- > 0;) {
      const VARIANT& v = p->rgvarg[i];
      if (v.vt == VT_I4) call.args.push_back(v.lVal);
      if (v.vt == (VT_I4 | VT_BYREF)) call.args.push_back(*v.plVal);
    }
    if (id == kError) *p->rgvarg[0].plVal = error_response;
    {
      std::lock_guard<std::mutex> guard(mutex);
      calls.push_back(call);
    }
    if (during_call) during_call();
    return S_OK;
  }

  size_t Count() {
    std::lock_guard<std::mutex> guard(mutex);
    return calls.size();
  }
  // "StatusUpdate 2003", "OutputComplete 7", "Error 111 0 1 12", in arrival order.
  std::vector<std::string> Log() {
    static const char* const kNames[] = {"", "DirectIO", "Error", "OutputComplete", "StatusUpdate"};
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<std::string> out;
    for (const Call& c : calls) {
      std::string line = kNames[c.id];
      for (int32_t a : c.args) line += " " + std::to_string(a);
      out.push_back(line);
    }
    return out;
  }

  int refs = 0;
  int32_t error_response = 0;
  so::CPOSPrinter* probe = nullptr;
  std::function<void()> during_call;  // runs inside every callback
  std::mutex mutex;
  std::vector<Call> calls;

 private:
  std::set<std::u16string> names_;
};

class SoTest : public ::testing::Test {
 protected:
  static constexpr char kDevice[] = "QZ381Test";

  void SetUp() override {
    profile_ = dir_.File("QZ381.inf");
    WriteProfile(profile_);
    WriteDeviceEntry(*reg_, kDevice, "COM1", profile_);
    fake_.Reset();
  }
  void TearDown() override {
    for (so::CPOSPrinter* p : printers_) {
      p->Close();
      p->Release();
    }
    platform::PumpMessages();  // nothing may be left for a later test's windows
  }

  // A printer owned by the fixture, on the fixture's clock.
  so::CPOSPrinter* NewPrinter() {
    auto* p = new so::CPOSPrinter(*reg_, clock_);
    printers_.push_back(p);
    return p;
  }
  // Opened on kDevice; fails the test when OpenService does not answer 0.
  so::CPOSPrinter* Opened(RecordingCo* co = nullptr) {
    so::CPOSPrinter* p = NewPrinter();
    EXPECT_EQ(p->OpenService("POSPrinter", kDevice, co ? co : &co_), 0);
    return p;
  }
  so::CPOSPrinter* Enabled(RecordingCo* co = nullptr) {
    so::CPOSPrinter* p = Opened(co);
    EXPECT_EQ(p->ClaimDevice(1000), 0);
    p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
    fake_.Take(p->port_handle());
    return p;
  }
  // Closes and destroys a fixture printer before its control object goes away.
  void Discard(so::CPOSPrinter* p) {
    p->Close();
    p->Release();
    printers_.erase(std::find(printers_.begin(), printers_.end(), p));
  }
  void SetDeviceValue(const std::string& name, const platform::RegValue& value,
                      const std::string& device = kDevice) {
    reg_->SetValue(platform::Hive::kLocalMachine, std::string(kDeviceKeyPrefix) + device, name,
                   value);
  }

  // Real time for the threads, but the fixed pauses (the settling after a
  // claim) cost nothing. Declared first: it outlives every printer.
  platform::FakeClock clock_{platform::FakeClock::Flow::kRealTimeInstantSleeps};
  ScratchDir dir_;
  std::string profile_;
  std::unique_ptr<platform::Registry> reg_ = platform::NewMemoryRegistry();
  FakeVexlink fake_;
  RecordingCo co_;
  std::vector<so::CPOSPrinter*> printers_;
};

}  // namespace qz381::testing
