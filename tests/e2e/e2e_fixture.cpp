#include "tests/e2e/e2e_fixture.h"

#include <dirent.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "platform/registry.h"
#include "setup/install.h"

namespace qz381::e2e {

namespace {

namespace fs = std::filesystem;

// The scratch directory and the installation, once per process. The registry
// file is named before the first registry access of the process, so the test,
// the service object and the port modules (each with its own copy of the
// platform layer) all read and write the same file.
class InstalledService : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/qz381-e2e-XXXXXX";
    const char* dir = mkdtemp(pattern);
    ASSERT_NE(dir, nullptr) << "mkdtemp failed";
    dir_ = dir;
    setenv("QZ381_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);

    // The modules stay where the build put them: the product key points at
    // them, and the service object is registered from there.
    setup::InstallLayout layout;
    layout.install_dir = dir_ + "/share/qz381";
    layout.module_dir = fs::path(QZ381_E2E_VEXLINK).parent_path().string();
    layout.vexlink = QZ381_E2E_VEXLINK;
    layout.com = QZ381_E2E_COM;
    layout.usb = QZ381_E2E_USB;
    layout.net = QZ381_E2E_NET;
    layout.service_object = QZ381_E2E_SO;
    platform::Registry& reg = platform::DefaultRegistry();
    platform::Status st = setup::CopyInstallFiles(QZ381_E2E_INSTALL_FILES, layout.install_dir);
    if (st.ok()) st = setup::WriteProductKey(reg, layout);
    if (st.ok()) st = setup::RegisterServiceObject(layout.service_object);
    ASSERT_TRUE(st.ok()) << st.ToString();
    install_dir_ = layout.install_dir;
  }

  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  static const std::string& install_dir() { return install_dir_; }

 private:
  std::string dir_;
  static std::string install_dir_;
};

std::string InstalledService::install_dir_;

[[maybe_unused]] ::testing::Environment* const kInstalled =
    ::testing::AddGlobalTestEnvironment(new InstalledService);

int CountEntries(const char* dir) {
  DIR* d = opendir(dir);
  if (!d) return -1;
  int n = 0;
  while (const dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

}  // namespace

std::string RecordedEvent::ToString() const {
  switch (kind) {
    case kStatusUpdate:
      return "StatusUpdate " + std::to_string(value);
    case kOutputComplete:
      return "OutputComplete " + std::to_string(value);
    case kError:
      return "Error " + std::to_string(value) + " " + std::to_string(extended) + " " +
             std::to_string(locus) + " " + std::to_string(response);
  }
  return "?";
}

void RecordingListener::SetErrorHandler(ErrorHandler handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  handler_ = std::move(handler);
}

void RecordingListener::OnStatusUpdate(int32_t data) {
  Record({RecordedEvent::kStatusUpdate, data, 0, 0, 0, Clock::now()});
}

void RecordingListener::OnOutputComplete(int32_t output_id) {
  Record({RecordedEvent::kOutputComplete, output_id, 0, 0, 0, Clock::now()});
}

void RecordingListener::OnError(int32_t rc, int32_t rce, int32_t locus, int32_t* response) {
  RecordedEvent event{RecordedEvent::kError, rc, rce, locus, *response, Clock::now()};
  ErrorHandler handler;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    handler = handler_;
  }
  // Outside the lock: the handler may take its time, and the test thread keeps
  // reading what was recorded.
  if (handler) handler(event, response);
  event.response = *response;
  Record(event);
}

void RecordingListener::Record(RecordedEvent event) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(event);
  }
  changed_.notify_all();
}

std::vector<RecordedEvent> RecordingListener::Events() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return events_;
}

std::vector<std::string> RecordingListener::Lines() const {
  std::vector<std::string> lines;
  for (const RecordedEvent& e : Events()) lines.push_back(e.ToString());
  return lines;
}

void RecordingListener::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  events_.clear();
}

bool RecordingListener::WaitFor(std::string_view line, milliseconds timeout) {
  return WaitUntil(
      [&](const std::vector<RecordedEvent>& events) {
        for (const RecordedEvent& e : events)
          if (e.ToString() == line) return true;
        return false;
      },
      timeout);
}

bool RecordingListener::WaitUntil(
    const std::function<bool(const std::vector<RecordedEvent>&)>& done, milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(events_); });
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t from) {
  std::string out;
  char buf[4];
  for (size_t i = from; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

int ThreadCount() {
  return CountEntries("/proc/self/task");
}

int OpenDescriptorCount() {
  return CountEntries("/proc/self/fd");
}

void E2eTest::CreateDevice(const std::string& name, const std::string& port) {
  platform::Status st = setup::CreateDevice(platform::DefaultRegistry(),
                                            InstalledService::install_dir(), name, port, true);
  ASSERT_TRUE(st.ok()) << st.ToString();
}

void E2eTest::SetUp() {
  ASSERT_FALSE(InstalledService::install_dir().empty()) << "installation failed";
  ASSERT_NO_FATAL_FAILURE(CreateDevice(kDevice, kPort));
  sim::SimulatorOptions options;
  options.port_name = kPort;
  std::string error;
  sim_ = sim::Simulator::Start(options, &error);
  ASSERT_TRUE(sim_) << error;
  printer_ = std::make_unique<co::PosPrinter>();
  printer_->AddListener(&events_);
}

void E2eTest::TearDown() {
  if (printer_) {
    if (printer_->IsOpen()) printer_->Close();
    printer_->RemoveListener(&events_);
    printer_.reset();
  }
  if (sim_) sim_->Stop();
}

void E2eTest::OpenClaimEnable() {
  ASSERT_EQ(printer().Open(kDevice), 0);
  ASSERT_EQ(printer().ClaimDevice(1000), 0);
  ASSERT_EQ(Set("DeviceEnabled", 1), 0);
  // The printer answers GS a with its status at once; the first block after
  // enabling is always reported.
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 12", milliseconds(3000)))
      << ::testing::PrintToString(events_.Lines());
  ASSERT_TRUE(events_.WaitFor("StatusUpdate 26", milliseconds(3000)));
  events_.Clear();
}

int32_t E2eTest::Get(std::string_view property) {
  int32_t value = -1;
  EXPECT_TRUE(printer().GetNumber(property, &value)) << property;
  return value;
}

int32_t E2eTest::Set(std::string_view property, int32_t value) {
  int32_t rc = -1;
  EXPECT_TRUE(printer().SetNumber(property, value, &rc)) << property;
  return rc;
}

int32_t E2eTest::CallLong(std::string_view method, int32_t value) {
  std::vector<co::Arg> args{co::Arg::Long(value)};
  return printer().Call(method, args);
}

bool E2eTest::WaitForProperty(std::string_view property, int32_t value, milliseconds timeout) {
  const Clock::time_point end = Clock::now() + timeout;
  for (;;) {
    if (Get(property) == value) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

std::string E2eTest::RawSince(size_t mark) {
  return Hex(sim().RawBytes(), mark);
}

}  // namespace qz381::e2e
