// The service object on a real serial line: the control object stand-in opens
// the logical device, the service object reaches the virtual printer through
// Vexlink and com over a pseudo-terminal.
#include <gtest/gtest.h>

#include <functional>
#include <istream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_fixture.h"
#include "tools/qz381/script.h"

namespace qz381::e2e {
namespace {

// What the service object writes to prepare the printer, to turn automatic
// status on, and to turn it off again.
constexpr char kClaimBytes[] = "00 1B 3D 01 00 00 00 1B 40";
constexpr char kEnableBytes[] = "00 1D 61 0F";
constexpr char kReleaseBytes[] = "1D 61 00";
// The first status block after enabling reports the printer on-line, and a
// printer that comes on-line is told to report everything (GS a 255).
constexpr char kOnlineBytes[] = "00 1D 61 FF";
constexpr char kReportAll[] = "GS a 255 automatic-status";

using PortE2eTest = E2eTest;

TEST_F(PortE2eTest, ClaimEnableAndReleaseSendExactlyTheirBytes) {
  ASSERT_EQ(printer().Open(kDevice), 0);
  EXPECT_EQ(RawSize(), 0u);  // opening does not touch the line

  ASSERT_EQ(printer().ClaimDevice(1000), 0);
  ASSERT_TRUE(sim().WaitForRawBytes(9, milliseconds(2000)));
  EXPECT_EQ(RawSince(0), kClaimBytes);

  ASSERT_EQ(Set("DeviceEnabled", 1), 0);
  ASSERT_TRUE(sim().WaitForRawBytes(17, milliseconds(2000)));
  EXPECT_EQ(RawSince(0), std::string(kClaimBytes) + " " + kEnableBytes + " " + kOnlineBytes);

  ASSERT_EQ(printer().ReleaseDevice(), 0);
  ASSERT_EQ(printer().Close(), 0);
  EXPECT_EQ(RawSince(0), std::string(kClaimBytes) + " " + kEnableBytes + " " + kOnlineBytes + " " +
                             kReleaseBytes);
}

TEST_F(PortE2eTest, SecondServiceObjectOnTheSamePortIsRefused) {
  const std::string other = std::string(kDevice) + "Second";
  ASSERT_NO_FATAL_FAILURE(CreateDevice(other, kPort));

  ASSERT_EQ(printer().Open(kDevice), 0);
  {
    co::PosPrinter second;
    EXPECT_EQ(second.Open(other), 111);  // another logical device on the port
    EXPECT_FALSE(second.IsOpen());
  }
  {
    co::PosPrinter same;
    EXPECT_EQ(same.Open(kDevice), 111);  // the same device from a second object
  }
  // Closing gives the port back.
  ASSERT_EQ(printer().Close(), 0);
  co::PosPrinter after;
  EXPECT_EQ(after.Open(other), 0);
  EXPECT_EQ(after.Close(), 0);
  EXPECT_EQ(RawSize(), 0u);
}

TEST_F(PortE2eTest, StatusBlocksCountWhileEnabledOnly) {
  ASSERT_EQ(printer().Open(kDevice), 0);
  ASSERT_EQ(printer().ClaimDevice(1000), 0);
  ASSERT_EQ(Set("DeviceEnabled", 1), 0);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 12", milliseconds(3000)));
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"StatusUpdate 26", "StatusUpdate 12"}));
  events_.Clear();

  sim().SetCoverOpen(true);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 11", milliseconds(3000)));
  EXPECT_EQ(Get("CoverOpen"), 1);
  sim().SetCoverOpen(false);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 12", milliseconds(3000)));
  EXPECT_EQ(Get("CoverOpen"), 0);
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"StatusUpdate 11", "StatusUpdate 12"}));
  events_.Clear();
  // The printer reports itself off-line while its cover is open; back on-line
  // it is told again to report everything.
  const auto first = sim().WaitForJournalLine(kReportAll, milliseconds(1000));
  ASSERT_TRUE(first);
  ASSERT_TRUE(sim().WaitForJournalLine(kReportAll, milliseconds(3000), *first + 1));

  // Disabled: automatic status is still on in the printer, so the block comes,
  // but it changes nothing and raises nothing (also not later, on enabling).
  ASSERT_EQ(Set("DeviceEnabled", 0), 0);
  const size_t before = sim().JournalLines().size();
  sim().SetCoverOpen(true);
  std::this_thread::sleep_for(milliseconds(400));  // five polls of the port status thread
  EXPECT_EQ(Get("CoverOpen"), 0);
  EXPECT_EQ(sim().JournalLines().size(), before)  // and nothing was sent in reply
      << ::testing::PrintToString(sim().JournalLines());

  // Enabling again reports the condition from the printer's fresh block, once.
  ASSERT_EQ(Set("DeviceEnabled", 1), 0);
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 11", milliseconds(3000)));
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"StatusUpdate 26", "StatusUpdate 11"}));
  EXPECT_EQ(Get("CoverOpen"), 1);
}

// Hands a script to RunScript line by line and runs an action on the printer's
// side just before a given line is read, i.e. after every line before it ran.
class ScriptFeed : public std::streambuf {
 public:
  ScriptFeed& Line(std::string text, std::function<void()> before = {}) {
    lines_.push_back({std::move(text), std::move(before)});
    return *this;
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (next_ == lines_.size()) return traits_type::eof();
    Entry& entry = lines_[next_++];
    if (entry.before) entry.before();
    current_ = entry.text + "\n";
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  struct Entry {
    std::string text;
    std::function<void()> before;
  };
  std::vector<Entry> lines_;
  size_t next_ = 0;
  std::string current_;
};

TEST_F(PortE2eTest, ScriptDrivesTheSameSession) {
  printer_.reset();  // the script has its own control object
  // The printer is paused while DeviceEnabled is set, so the status events of
  // its first block come after the call's own result line, never interleaved.
  ScriptFeed feed;
  feed.Line("open " + std::string(kDevice))
      .Line("ClaimDevice 1000", [&] { sim().SetPaused(true); })
      .Line("set DeviceEnabled 1")
      .Line("wait-event StatusUpdate 12 3000", [&] { sim().SetPaused(false); })
      .Line("get CoverOpen")
      .Line("wait-event StatusUpdate 11 3000", [&] { sim().SetCoverOpen(true); })
      .Line("get CoverOpen")
      .Line("wait-event StatusUpdate 12 3000", [&] { sim().SetCoverOpen(false); })
      .Line("get CoverOpen")
      // Back on-line after the cover closed, the printer is told to report
      // everything; that write is not ordered with the event, so wait for it.
      .Line("set DeviceEnabled 0",
            [&] {
              auto first = sim().WaitForJournalLine(kReportAll, milliseconds(3000));
              if (first) sim().WaitForJournalLine(kReportAll, milliseconds(3000), *first + 1);
            })
      .Line("sleep 400", [&] { sim().SetCoverOpen(true); })
      .Line("get CoverOpen")
      .Line("ReleaseDevice")
      .Line("Close");
  std::istream in(&feed);
  std::ostringstream out, err;
  EXPECT_EQ(tool::RunScript(in, out, err), 0);
  EXPECT_EQ(out.str(),
            "result Open 0 0\n"
            "result ClaimDevice 0 0\n"
            "result DeviceEnabled 0 0\n"
            "event StatusUpdate 26\n"
            "event StatusUpdate 12\n"
            "value CoverOpen 0\n"
            "event StatusUpdate 11\n"
            "value CoverOpen 1\n"
            "event StatusUpdate 12\n"
            "value CoverOpen 0\n"
            "result DeviceEnabled 0 0\n"
            "value CoverOpen 0\n"
            "result ReleaseDevice 0 0\n"
            "result Close 0 0\n");
  EXPECT_EQ(err.str(), "");
  // The cover made the printer go off-line and come back: on-line again, it is
  // told once more to report everything.
  EXPECT_EQ(RawSince(0), std::string(kClaimBytes) + " " + kEnableBytes + " " + kOnlineBytes + " " +
                             kOnlineBytes + " " + kReleaseBytes);
}

}  // namespace
}  // namespace qz381::e2e
