// The Win32 serial backend's answers to what the system calls report, with
// entries of its system-call table swapped: no COM port is needed, and the
// native code each Status carries is checked as well as the outcome.
#include <gtest/gtest.h>

#include <array>

#include "platform/serial.h"
#include "platform/sync.h"
#include "platform/win32/serial_calls.h"

namespace qz381::platform {
namespace {

using win32::SerialCalls;

// What the swapped calls do; one test at a time, no device outlives its test.
struct Script {
  DWORD open_error = 0;        // CreateFileA fails with this when nonzero
  DWORD last_error = 0;        // what GetLastError answers
  DWORD write_completes = 0;   // bytes a WriteFile gets out
  bool write_pending = false;  // WriteFile answers ERROR_IO_PENDING
  bool comm_state_fails = false;
  DWORD modem_error = 0;  // GetCommModemStatus fails with this when nonzero
  DWORD in_queue = 0;
};
Script g_script;
const HANDLE kFakePort = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4711));

HANDLE WINAPI FakeCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  g_script.last_error = g_script.open_error;
  return g_script.open_error ? INVALID_HANDLE_VALUE : kFakePort;
}
BOOL WINAPI FakeClose(HANDLE) {
  return TRUE;
}
DWORD WINAPI FakeLastError() {
  return g_script.last_error;
}
BOOL WINAPI FakeGetState(HANDLE, LPDCB dcb) {
  if (g_script.comm_state_fails) {
    g_script.last_error = ERROR_INVALID_FUNCTION;
    return FALSE;
  }
  dcb->BaudRate = 9600;
  return TRUE;
}
BOOL WINAPI FakeSetState(HANDLE, LPDCB) {
  return TRUE;
}
BOOL WINAPI FakeTimeouts(HANDLE, LPCOMMTIMEOUTS) {
  return TRUE;
}
BOOL WINAPI FakeMask(HANDLE, DWORD) {
  return TRUE;
}
BOOL WINAPI FakeWrite(HANDLE, LPCVOID, DWORD, LPDWORD n, LPOVERLAPPED io) {
  if (g_script.write_pending) {
    g_script.last_error = ERROR_IO_PENDING;
    ::SetEvent(io->hEvent);
    return FALSE;
  }
  *n = g_script.write_completes;
  return TRUE;
}
BOOL WINAPI FakeOverlapped(HANDLE, LPOVERLAPPED, LPDWORD n, BOOL) {
  *n = g_script.write_completes;
  return TRUE;
}
BOOL WINAPI FakeModem(HANDLE, LPDWORD bits) {
  if (g_script.modem_error) {
    g_script.last_error = g_script.modem_error;
    return FALSE;
  }
  *bits = MS_CTS_ON | MS_RLSD_ON;
  return TRUE;
}
BOOL WINAPI FakeClearError(HANDLE, LPDWORD errors, LPCOMSTAT stat) {
  *errors = 0;
  stat->cbInQue = g_script.in_queue;
  return TRUE;
}

class SerialWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = win32::Win32SerialCalls();
    g_script = {};
    SerialCalls& calls = win32::Win32SerialCalls();
    calls.CreateFileA = FakeCreateFile;
    calls.CloseHandle = FakeClose;
    calls.GetLastError = FakeLastError;
    calls.GetCommState = FakeGetState;
    calls.SetCommState = FakeSetState;
    calls.SetCommTimeouts = FakeTimeouts;
    calls.SetCommMask = FakeMask;
    calls.WriteFile = FakeWrite;
    calls.GetOverlappedResult = FakeOverlapped;
    calls.GetCommModemStatus = FakeModem;
    calls.ClearCommError = FakeClearError;
  }
  void TearDown() override { win32::Win32SerialCalls() = saved_; }

  std::unique_ptr<SerialDevice> Open(Status* status) {
    return DefaultSerialPorts().Open("\\\\.\\COM7", status);
  }

  SerialCalls saved_;
};

TEST_F(SerialWin32Test, OpenFailuresKeepTheirMeaningAndTheSystemCode) {
  struct Case {
    const char* name;
    DWORD error;
    Outcome outcome;
  };
  const Case cases[] = {
      {"no such port", ERROR_FILE_NOT_FOUND, Outcome::kNotFound},
      {"held by another program", ERROR_ACCESS_DENIED, Outcome::kBusy},
      {"sharing refused", ERROR_SHARING_VIOLATION, Outcome::kBusy},
      {"anything else", ERROR_GEN_FAILURE, Outcome::kIoError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_script.open_error = c.error;
    Status status;
    EXPECT_EQ(Open(&status), nullptr);
    EXPECT_EQ(status.outcome(), c.outcome);
    EXPECT_EQ(status.native(), static_cast<int>(c.error));
    EXPECT_NE(status.context().find("COM7"), std::string::npos) << status.ToString();
  }
}

TEST_F(SerialWin32Test, AFileThatIsNoSerialDeviceIsRefused) {
  g_script.comm_state_fails = true;
  Status status;
  EXPECT_EQ(Open(&status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kIoError);
  EXPECT_EQ(status.native(), ERROR_INVALID_FUNCTION);
}

TEST_F(SerialWin32Test, AShortWriteIsATimeOutWithTheCountThatWentOut) {
  Status status;
  auto device = Open(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  const std::array<uint8_t, 5> data = {1, 2, 3, 4, 5};
  size_t written = 99;

  g_script.write_completes = 5;
  EXPECT_TRUE(device->Write(data, &written).ok());
  EXPECT_EQ(written, 5u);

  g_script.write_pending = true;
  g_script.write_completes = 2;
  status = device->Write(data, &written);
  EXPECT_EQ(status.outcome(), Outcome::kTimedOut);
  EXPECT_EQ(written, 2u);

  device->Interrupt();
  status = device->Write(data, &written);
  EXPECT_EQ(status.outcome(), Outcome::kIoError);
  EXPECT_EQ(written, 0u);
}

TEST_F(SerialWin32Test, ModemLinesOrPlainlyNone) {
  Status status;
  auto device = Open(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  ModemLines lines;
  ASSERT_TRUE(device->GetModemLines(&lines).ok());
  EXPECT_TRUE(lines.cts);
  EXPECT_FALSE(lines.dsr);
  EXPECT_TRUE(lines.rlsd);

  g_script.modem_error = ERROR_INVALID_FUNCTION;
  EXPECT_EQ(device->GetModemLines(&lines).outcome(), Outcome::kUnsupported);
  g_script.modem_error = ERROR_GEN_FAILURE;
  EXPECT_EQ(device->GetModemLines(&lines).outcome(), Outcome::kIoError);
}

TEST_F(SerialWin32Test, WaitingInputAnswersAtOnceAndInterruptWins) {
  Status status;
  auto device = Open(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  g_script.in_queue = 3;
  size_t waiting = 0;
  ASSERT_TRUE(device->InputWaiting(&waiting).ok());
  EXPECT_EQ(waiting, 3u);
  EXPECT_EQ(device->WaitInput(kInfinite), SerialWait::kReady);
  device->Interrupt();
  EXPECT_EQ(device->WaitInput(kInfinite), SerialWait::kInterrupted);
}

TEST_F(SerialWin32Test, UnusableSettingsAreRefusedBeforeTheDriverSeesThem) {
  Status status;
  auto device = Open(&status);
  ASSERT_NE(device, nullptr) << status.ToString();
  SerialLineSettings bad;
  bad.byteSize = 9;
  EXPECT_EQ(device->Configure(bad).outcome(), Outcome::kInvalidArgument);
  bad = {};
  bad.baudRate = 0;
  EXPECT_EQ(device->Configure(bad).outcome(), Outcome::kInvalidArgument);
  bad = {};
  bad.parity = static_cast<Parity>(7);
  EXPECT_EQ(device->Configure(bad).outcome(), Outcome::kInvalidArgument);
  EXPECT_TRUE(device->Configure(SerialLineSettings{}).ok());
}

}  // namespace
}  // namespace qz381::platform
