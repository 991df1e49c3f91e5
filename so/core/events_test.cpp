// Event delivery: records posted from any thread reach the control object on the
// thread that opened the service, in order, behind the two freeze gates.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "so/core/event_record.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

using so::EventRecord;
using Log = std::vector<std::string>;

// Long enough for a wrongly released record to show up.
constexpr uint32_t kQuietMs = 60;

TEST_F(SoTest, FreezeEventsHoldsRecordsUntilReleased) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_FreezeEvents, 1);
  p->PostEvent(EventRecord::StatusUpdate(2003));
  p->PostEvent(EventRecord::OutputComplete(5));
  PumpFor(kQuietMs);
  EXPECT_EQ(co_.Count(), 0u);
  p->SetPropertyNumber(PIDX_FreezeEvents, 0);
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() == 2; }));
  EXPECT_EQ(co_.Log(), (Log{"StatusUpdate 2003", "OutputComplete 5"}));
}

TEST_F(SoTest, RecordsWaitWhileDisabledAndFlowAfterReEnabling) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_DeviceEnabled, 0);
  p->PostEvent(EventRecord::OutputComplete(7));
  p->PostEvent(EventRecord::StatusUpdate(2002));
  PumpFor(kQuietMs);
  EXPECT_EQ(co_.Count(), 0u);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  ASSERT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() == 2; }));
  EXPECT_EQ(co_.Log(), (Log{"OutputComplete 7", "StatusUpdate 2002"}));
}

TEST_F(SoTest, COFreezeEventsHoldsAndReleasesInOrder) {
  so::CPOSPrinter* p = Enabled();
  EXPECT_EQ(p->COFreezeEvents(1), 0);
  for (int32_t id = 1; id <= 4; ++id) p->PostEvent(EventRecord::OutputComplete(id));
  PumpFor(kQuietMs);
  EXPECT_EQ(co_.Count(), 0u);
  EXPECT_EQ(p->COFreezeEvents(0), 0);
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() == 4; }));
  EXPECT_EQ(co_.Log(),
            (Log{"OutputComplete 1", "OutputComplete 2", "OutputComplete 3", "OutputComplete 4"}));
}

// A status record is delivered only when it still describes the condition that
// was reported last; the others are dropped silently.
TEST_F(SoTest, OnlyStatusStillCurrentIsDelivered) {
  struct Case {
    const char* name;
    std::vector<int32_t> posted;
    std::function<void(so::CPOSPrinter*)> then;  // runs before the gate opens
    Log want;
  } cases[] = {
      {"cover opened and closed again",
       {11, 12},
       [](so::CPOSPrinter* p) {
         const uint8_t closed[4] = {0x00, 0x00, 0x00, 0x00};
         p->status_monitor().OnAsbBlock(closed);  // reports 26 and 12 itself
       },
       {"StatusUpdate 12", "StatusUpdate 26", "StatusUpdate 12"}},
      {"idle without FlagWhenIdle", {1001}, [](so::CPOSPrinter*) {}, {}},
      {"online while the power state is unknown", {2001, 2004}, [](so::CPOSPrinter*) {}, {}},
      {"paper status never reported", {24}, [](so::CPOSPrinter*) {}, {}},
      {"codes outside the ranges always",
       {2003, 77},
       [](so::CPOSPrinter*) {},
       {"StatusUpdate 2003", "StatusUpdate 77"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingCo co;
    so::CPOSPrinter* p = Enabled(&co);
    p->COFreezeEvents(1);
    for (int32_t code : c.posted) p->PostEvent(EventRecord::StatusUpdate(code));
    c.then(p);
    p->COFreezeEvents(0);
    p->PostEvent(EventRecord::OutputComplete(99));  // marks the end of the run
    ASSERT_TRUE(PumpUntil([&] {
      Log log = co.Log();
      return !log.empty() && log.back() == "OutputComplete 99";
    }));
    Log got = co.Log();
    got.pop_back();
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_FlagWhenIdle), 0);
    Discard(p);  // before `co` goes out of scope
  }
}

// Setting FlagWhenIdle on an idle device clears the flag and queues the idle
// record at once; the delivery check must not then find the flag cleared and
// drop the record, or the application never hears that the device is idle.
TEST_F(SoTest, IdleDeviceAskedForFlagWhenIdleReportsIdleOnce) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_FlagWhenIdle, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  p->PostEvent(EventRecord::OutputComplete(99));  // marks the end of the run
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() >= 2; }, 500));
  EXPECT_EQ(co_.Log(), (Log{"StatusUpdate 1001", "OutputComplete 99"}));
  EXPECT_EQ(p->GetPropertyNumber(PIDX_FlagWhenIdle), 0);
}

TEST_F(SoTest, ErrorEventMovesStateToErrorDuringTheCallOnly) {
  so::CPOSPrinter* p = Enabled();
  co_.probe = p;
  co_.error_response = 12;
  p->PostEvent(EventRecord::Error(111, 410, 1, 11));
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() == 1; }));
  EXPECT_EQ(co_.Log(), (Log{"Error 111 410 1 11"}));  // the default response is offered
  EXPECT_EQ(co_.calls[0].state_during, 4);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), OPOS_S_IDLE);
  co_.probe = nullptr;
}

TEST_F(SoTest, RecordsQueuedAtReleaseAreDropped) {
  so::CPOSPrinter* p = Enabled();
  p->COFreezeEvents(1);
  p->PostEvent(EventRecord::OutputComplete(1));
  p->PostEvent(EventRecord::StatusUpdate(2003));
  EXPECT_EQ(p->ReleaseDevice(), 0);
  p->COFreezeEvents(0);
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  PumpFor(kQuietMs);
  EXPECT_EQ(co_.Count(), 0u);
  // Delivery itself still works after the release.
  p->PostEvent(EventRecord::OutputComplete(2));
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() == 1; }));
  EXPECT_EQ(co_.Log(), (Log{"OutputComplete 2"}));
}

TEST_F(SoTest, AnErrorDroppedAtReleaseLeavesTheOutputQueueWorking) {
  // A network printer (its status request answered by the fake).
  SetDeviceValue("Port", platform::RegValue::Text("com1"));
  SetDeviceValue("TcpIp", platform::RegValue::Text("192.168.7.31"));
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_AsyncMode, 1);
  p->COFreezeEvents(1);
  fake_.ShortWrites(0, 10);  // the job fails: its error waits behind the gate
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "lost\n"), 0);
  ASSERT_TRUE(PumpUntil([&] { return p->event_delivery().Queued() == 1; }, 5000));
  ASSERT_EQ(p->ReleaseDevice(), 0);  // drops the error nobody answered
  fake_.ShortWrites(0, 0);
  p->COFreezeEvents(0);

  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  p->SetPropertyNumber(PIDX_AsyncMode, 1);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "printed\n"), 0);
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() >= 1; }, 5000)) << "the output thread hangs";
  EXPECT_EQ(co_.Log(), (Log{"OutputComplete 2"}));
}

TEST_F(SoTest, CloseFromTheErrorCallbackLeavesTheServiceClosed) {
  so::CPOSPrinter* p = Enabled();
  co_.during_call = [&] { p->Close(); };
  p->PostEvent(EventRecord::Error(111, 0, 1, 11));
  ASSERT_TRUE(PumpUntil([&] { return co_.Count() == 1; }));
  co_.during_call = nullptr;
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), 1);
  EXPECT_EQ(p->OpenService("POSPrinter", kDevice, &co_), 0);
}

TEST_F(SoTest, CloseReturnsWhileTheOpeningThreadIsNotPumping) {
  so::CPOSPrinter* p = Enabled();
  p->PostEvent(EventRecord::OutputComplete(1));
  p->PostEvent(EventRecord::OutputComplete(2));
  platform::SleepMs(20);  // the event thread is now waiting for the window
  EXPECT_EQ(p->Close(), 0);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), OPOS_S_CLOSED);
  PumpFor(kQuietMs);  // the message still queued finds no record to deliver
  EXPECT_EQ(co_.Count(), 0u);
}

TEST_F(SoTest, ControlObjectIsReleasedWithTheServiceObject) {
  RecordingCo co;
  so::CPOSPrinter* p = new so::CPOSPrinter(*reg_, clock_);
  ASSERT_EQ(p->OpenService("POSPrinter", kDevice, &co), 0);
  EXPECT_GE(co.refs, 1);
  p->Close();
  p->Release();
  EXPECT_EQ(co.refs, 0);
}

}  // namespace
}  // namespace qz381::testing
