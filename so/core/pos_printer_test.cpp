// Lifecycle, configuration and the unsupported methods of CPOSPrinter, seen
// through the bytes the fake port module receives and the results it answers.
#include "so/core/pos_printer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/dispatch_methods.h"
#include "platform/trace.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

using platform::Hive;
using platform::IniFile;
using platform::RegValue;

constexpr char kClaimBytes[] = "00 1B 3D 01 00 00 00 1B 40";
constexpr char kEnableBytes[] = "00 1D 61 0F";
constexpr char kAsbOffBytes[] = "1D 61 00";

// --- bytes on the wire --------------------------------------------------------

TEST_F(SoTest, ClaimEnableReleaseSendExactlyTheirSequences) {
  so::CPOSPrinter* p = Opened();
  int32_t port = p->port_handle();
  ASSERT_NE(port, 0);
  EXPECT_EQ(fake_.Take(port), "");  // opening registers the port, writes nothing

  EXPECT_EQ(p->ClaimDevice(1000), 0);
  EXPECT_EQ(fake_.Take(port), kClaimBytes);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 1);

  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 1);
  EXPECT_EQ(fake_.Take(port), kEnableBytes);
  EXPECT_EQ(fake_.Count("Clear"), 1);  // stale input dropped before enabling

  EXPECT_EQ(p->ReleaseDevice(), 0);
  EXPECT_EQ(fake_.Take(port), kAsbOffBytes);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 0);
  EXPECT_EQ(fake_.Count("ClosePort"), 1);
}

TEST_F(SoTest, ClaimingTwiceOpensThePortOnce) {
  so::CPOSPrinter* p = Opened();
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  fake_.Take(p->port_handle());
  EXPECT_EQ(p->ClaimDevice(1000), 0);
  EXPECT_EQ(fake_.Take(p->port_handle()), "");
  EXPECT_EQ(fake_.Count("OpenPort"), 1);
  EXPECT_EQ(fake_.Count("SetDeviceOption"), 1);
}

TEST_F(SoTest, EnablingTwiceSendsNothingTheSecondTime) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_DeviceEnabled, 7);  // any non-zero value means enabled
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(fake_.Take(p->port_handle()), "");
  EXPECT_EQ(fake_.Count("Clear"), 1);
}

TEST_F(SoTest, EnablingBeforeClaimIsRefused) {
  so::CPOSPrinter* p = Opened();
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 0);
  EXPECT_EQ(fake_.Count("Write"), 0);
}

TEST_F(SoTest, ReleaseWithoutClaimIsIllegal) {
  so::CPOSPrinter* p = Opened();
  EXPECT_EQ(p->ReleaseDevice(), 106);
  EXPECT_EQ(fake_.Count("Write"), 0);
}

// A short write anywhere in the preparation fails the claim and gives the port
// back; the next claim starts afresh.
TEST_F(SoTest, ShortWriteWhileClaimingFailsAndClosesThePort) {
  struct Case {
    int32_t full_writes;  // complete writes before the short one
    const char* wire;     // what reached the port, the ASB-off included
  } cases[] = {
      {1, "00 1B 3D 1D 61 00"},                 // ESC = 1 cut short
      {3, "00 1B 3D 01 00 00 00 1B 1D 61 00"},  // the initialisation cut short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.full_writes);
    fake_.Reset();
    so::CPOSPrinter* p = Opened();
    fake_.ShortWrites(c.full_writes, 1);
    EXPECT_EQ(p->ClaimDevice(1000), 111);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_FAILURE);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
    EXPECT_EQ(fake_.Take(p->port_handle()), c.wire);
    EXPECT_EQ(fake_.Count("ClosePort"), 1);

    EXPECT_EQ(p->ClaimDevice(1000), 0);
    EXPECT_EQ(fake_.Take(p->port_handle()), kClaimBytes);
    p->Close();
  }
}

TEST_F(SoTest, ShortWriteWhileEnablingLeavesTheDeviceDisabled) {
  so::CPOSPrinter* p = Opened();
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  fake_.Take(p->port_handle());
  fake_.ShortWrites(1, 1);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_FAILURE);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 0);
  EXPECT_EQ(fake_.Take(p->port_handle()), "00 1D 61");
}

TEST_F(SoTest, PortThatWillNotOpenFailsTheClaim) {
  so::CPOSPrinter* p = Opened();
  fake_.FailOpen(true);
  EXPECT_EQ(p->ClaimDevice(1000), 106);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
  EXPECT_EQ(fake_.Count("Write"), 0);
  fake_.FailOpen(false);
  EXPECT_EQ(p->ClaimDevice(1000), 0);
  EXPECT_EQ(fake_.Take(p->port_handle()), kClaimBytes);
}

TEST_F(SoTest, CloseReleasesFirstAndASecondCloseSucceeds) {
  so::CPOSPrinter* p = Enabled();
  int32_t port = p->port_handle();
  EXPECT_EQ(p->Close(), 0);
  EXPECT_EQ(fake_.Take(port), kAsbOffBytes);
  EXPECT_EQ(fake_.Count("ClosePort"), 1);
  EXPECT_EQ(fake_.Count("RemovePort"), 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), OPOS_S_CLOSED);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
  EXPECT_EQ(p->Close(), 0);
  EXPECT_EQ(fake_.Count("RemovePort"), 1);
  // The port is free again for a new instance.
  EXPECT_EQ(Opened()->GetPropertyNumber(PIDX_State), OPOS_S_IDLE);
}

// The printer holds an asynchronous job's write back (flow control): releasing
// the device closes the port under the write instead of waiting out the
// write's time-out, and the next claim prints again.
TEST_F(SoTest, ReleaseEndsAWriteThePrinterHoldsBack) {
  so::CPOSPrinter* p = Enabled();
  p->SetPropertyNumber(PIDX_AsyncMode, 1);
  fake_.HoldWrites(true);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "held\n"), 0);
  ASSERT_TRUE(PumpUntil([&] { return fake_.HeldWrites() == 1; }));
  ASSERT_EQ(p->ReleaseDevice(), 0);
  EXPECT_EQ(fake_.Count("HeldUntilClose"), 1) << "the write ran out its time instead";

  fake_.HoldWrites(false);
  const int32_t port = p->port_handle();
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  p->SetPropertyNumber(PIDX_AsyncMode, 0);
  fake_.Take(port);
  ASSERT_EQ(p->PrintNormal(PTR_S_RECEIPT, "printed\n"), 0);
  EXPECT_NE(fake_.Take(port).find(Hex("printed\n")), std::string::npos);
}

// --- OpenService answers ------------------------------------------------------

struct OpenCase {
  const char* name;
  std::function<void(platform::Registry&, IniFile&)> edit;
  int32_t want;
};

void DeviceValue(platform::Registry& r, const char* name, const RegValue& v) {
  r.SetValue(Hive::kLocalMachine, std::string(kDeviceKeyPrefix) + "QZ381Test", name, v);
}

TEST_F(SoTest, OpenServiceAnswersByConfiguration) {
  const OpenCase cases[] = {
      {"shipped configuration", [](auto&, auto&) {}, 0},
      {"mngdir missing",
       [](platform::Registry& r, IniFile&) {
         r.DeleteValue(Hive::kLocalMachine, kProductKey, "mngdir");
       },
       111},
      {"mngdir names no file",
       [](platform::Registry& r, IniFile&) {
         r.SetValue(Hive::kLocalMachine, kProductKey, "mngdir",
                    RegValue::Text("/nonexistent/Vexlink.so"));
       },
       111},
      {"mngdir names a file that is no module",
       [](platform::Registry& r, IniFile&) {
         r.SetValue(Hive::kLocalMachine, kProductKey, "mngdir",
                    RegValue::Text(QZ381_SHIPPED_PROFILE));
       },
       111},
      {"empty Port",
       [](platform::Registry& r, IniFile&) { DeviceValue(r, "Port", RegValue::Text("")); }, 106},
      {"empty DeviceName",
       [](platform::Registry& r, IniFile&) { DeviceValue(r, "DeviceName", RegValue::Text("")); },
       106},
      {"profile file missing",
       [](platform::Registry& r, IniFile&) {
         DeviceValue(r, "inf", RegValue::Text("/nonexistent/QZ381.inf"));
       },
       106},
      {"OutputBuf 0",
       [](platform::Registry& r, IniFile&) { DeviceValue(r, "OutputBuf", RegValue::Text("0")); },
       106},
      {"USB port with no device attached",
       [](platform::Registry& r, IniFile&) { DeviceValue(r, "Port", RegValue::Text("USB001:")); },
       106},
      {"DPIHIGH 0", [](auto&, IniFile& i) { i.Set("DETAIL", "DPIHIGH", "0"); }, 106},
      {"DPIWIDTH 0", [](auto&, IniFile& i) { i.Set("DETAIL", "DPIWIDTH", "0"); }, 106},
      {"DPIHIGH missing", [](auto&, IniFile& i) { i.Set("DETAIL", "DPIHIGH", std::nullopt); }, 106},
      {"RecLineChars above LinecharsCompressed",
       [](auto&, IniFile& i) { i.Set("POSPRINTER", "RecLineChars", "57"); }, 106},
      {"no character widths",
       [](auto&, IniFile& i) {
         i.Set("DETAIL", "LinecharsNormal", "0");
         i.Set("DETAIL", "LinecharsCompressed", "0");
       },
       106},
      {"RecLineWidth 0", [](auto&, IniFile& i) { i.Set("POSPRINTER", "RecLineWidth", "0"); }, 106},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto reg = platform::NewMemoryRegistry();
    std::string profile = dir_.File("case.inf");
    WriteDeviceEntry(*reg, kDevice, "COM1", profile);
    WriteProfile(profile, [&](IniFile& ini) { c.edit(*reg, ini); });
    auto* p = new so::CPOSPrinter(*reg, clock_);
    EXPECT_EQ(p->OpenService("POSPrinter", kDevice, &co_), c.want);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), c.want);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_State), c.want == 0 ? 2 : 1);
    EXPECT_EQ(p->Close(), 0);
    p->Release();
  }
  EXPECT_EQ(co_.refs, 0);  // every attached dispatch was given back
}

TEST_F(SoTest, DeviceKeyThatDoesNotExistIs106) {
  EXPECT_EQ(NewPrinter()->OpenService("POSPrinter", "NoSuchDevice", &co_), 106);
  EXPECT_EQ(fake_.Count("CreatePort"), 0);
}

TEST_F(SoTest, SecondInstanceOnTheSamePortIs111UntilTheFirstCloses) {
  WriteDeviceEntry(*reg_, "Other", "COM1", profile_);
  so::CPOSPrinter* first = Opened();
  so::CPOSPrinter* second = NewPrinter();
  EXPECT_EQ(second->OpenService("POSPrinter", "Other", &co_), 111);
  EXPECT_EQ(second->GetPropertyNumber(PIDX_State), OPOS_S_CLOSED);
  // The refused instance did not take the first one's port away.
  EXPECT_EQ(first->ClaimDevice(1000), 0);
  EXPECT_EQ(fake_.Take(first->port_handle()), kClaimBytes);
  first->Close();
  EXPECT_EQ(second->OpenService("POSPrinter", "Other", &co_), 0);
}

TEST_F(SoTest, CallbackInterfaceLackingAnyOfTheFourNamesIs104) {
  const char16_t* names[] = {u"SODirectIO", u"SOError", u"SOOutputComplete", u"SOStatusUpdate"};
  for (const char16_t* missing : names) {
    std::set<std::u16string> present(std::begin(names), std::end(names));
    present.erase(missing);
    RecordingCo co(present);
    so::CPOSPrinter* p = NewPrinter();
    EXPECT_EQ(p->OpenService("POSPrinter", kDevice, &co), 104);
    EXPECT_EQ(co.refs, 0);
    // The port registration was given back: a complete control object opens.
    so::CPOSPrinter* q = NewPrinter();
    EXPECT_EQ(q->OpenService("POSPrinter", kDevice, &co_), 0);
    q->Close();
  }
}

// --- configuration ------------------------------------------------------------

TEST_F(SoTest, LowerCaseComPortIsANetworkPort) {
  SetDeviceValue("Port", RegValue::Text("com1"));
  SetDeviceValue("TcpIp", RegValue::Text("192.168.7.31"));
  SetDeviceValue("TcpPort", RegValue::Dword(9100));
  so::CPOSPrinter* p = Opened();
  std::string port_name;
  EXPECT_EQ(fake_.LastCreated(&port_name), p->port_handle());
  EXPECT_EQ(port_name, "192.168.7.31");
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  EXPECT_EQ(fake_.LastBaudRate(), 9100u);  // the TCP port travels in the baud-rate slot
}

TEST_F(SoTest, UpperCaseComPortReadsTheSerialSettings) {
  so::CPOSPrinter* p = Opened();
  std::string port_name;
  fake_.LastCreated(&port_name);
  EXPECT_EQ(port_name, "COM1");
  const ports::DeviceOption& o = p->device_option();
  EXPECT_EQ(o.baudRate, 19200u);
  EXPECT_EQ(o.byteSize, 8u);
  EXPECT_EQ(o.timeouts.readIntervalTimeout, 2u);
  EXPECT_EQ(o.timeouts.readTotalTimeoutConstant, 50u);
  EXPECT_EQ(o.timeouts.writeTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(o.timeouts.writeTotalTimeoutConstant, 3000u);
  EXPECT_EQ(o.outputBufferSize, 4096u);
}

TEST_F(SoTest, ServiceObjectVersionComesFromTheLastPartOfVersion) {
  const struct {
    const char* version;
    int32_t want;
  } cases[] = {{"1.9.12", 1009012}, {"1.9.3", 1009003}, {"1.9.0", 1009000}, {"7", 1009003}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    SetDeviceValue("Version", RegValue::Text(c.version));
    so::CPOSPrinter* p = Opened();
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ServiceObjectVersion), c.want);
    p->Close();
  }
}

TEST_F(SoTest, ProfileValuesAsRead) {
  const struct {
    const char* section;
    const char* key;
    const char* value;
    int32_t pidx;
    int32_t want;
  } cases[] = {
      {"POSPRINTER", "CapRecCartridgeSensor", "-1", 8552, 0},
      {"POSPRINTER", "CapRecCartridgeSensor", "3", 8552, 3},
      {"POSPRINTER", "RecLineChars", "5", 8016, 42},
      {"POSPRINTER", "RecLineChars", "50", 8016, 56},
      {"COMMON", "CapStatisticsRporting", "1", 502, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    WriteProfile(profile_, [&](IniFile& ini) { ini.Set(c.section, c.key, c.value); });
    so::CPOSPrinter* p = Opened();
    EXPECT_EQ(p->GetPropertyNumber(c.pidx), c.want);
    p->Close();
  }
}

TEST_F(SoTest, OpenedDeviceReportsItsIdentity) {
  so::CPOSPrinter* p = Opened();
  EXPECT_EQ(p->GetPropertyString(PIDX_CheckHealthText), "Not Executed");
  EXPECT_EQ(p->GetPropertyString(PIDX_DeviceDescription), "QZ381 thermal receipt");
  EXPECT_EQ(p->GetPropertyString(PIDX_DeviceName), "QZ381 Receipt");
  EXPECT_EQ(p->GetPropertyString(PIDX_ServiceObjectDescription), "QZ381 service object");
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CapPowerReporting), 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineChars), 42);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineWidth), 512);
}

TEST_F(SoTest, MalformedRegistryFileIs106WithATraceNamingFileAndLine) {
  std::string path = dir_.File("registry.reg");
  {
    std::ofstream f(path);
    f << "Windows Registry Editor Version 5.00\n\n"
      << "[HKEY_LOCAL_MACHINE\\" << kDeviceKeyPrefix << kDevice << "]\n"
      << "\"Port\"=\"COM1\"\n"
      << "\"DeviceName\"=\"QZ381 Receipt\n";  // line 5: the quote is never closed
  }
  std::vector<std::string> lines;
  std::mutex mutex;
  platform::SetTraceCapture([&](std::string_view line) {
    std::lock_guard<std::mutex> guard(mutex);
    lines.emplace_back(line);
  });
  auto reg = platform::OpenRegistryFile(path);
  auto* p = new so::CPOSPrinter(*reg);
  EXPECT_EQ(p->OpenService("POSPrinter", kDevice, &co_), 106);
  p->Release();
  platform::SetTraceCapture(nullptr);
  bool named = false;
  for (const std::string& l : lines) named = named || l.find(path + ":5") != std::string::npos;
  EXPECT_TRUE(named) << "no trace line names " << path << ":5";
}

// --- methods the device does not support -------------------------------------

// Calls a dispatch method by identifier with arguments of the right kinds.
int32_t InvokeById(so::CPOSPrinter* p, DISPID id) {
  std::string_view sig = opos::kDispatchMethods[id - 1].params;
  std::vector<VARIANT> v(sig.size());
  LONG longs[8] = {};
  BSTR bstrs[8] = {};
  for (size_t i = 0; i < sig.size(); ++i) {
    VARIANT& a = v[sig.size() - 1 - i];
    VariantInit(&a);
    bstrs[i] = platform::AllocBstrFromAnsi("statistics");
    if (sig[i] == 'L') {
      a.vt = VT_I4;
      a.lVal = 5;
    } else if (sig[i] == 'S') {
      a.vt = VT_BSTR;
      a.bstrVal = bstrs[i];
    } else if (sig[i] == 'l') {
      a.vt = VT_I4 | VT_BYREF;
      a.plVal = &longs[i];
    } else {
      a.vt = VT_BSTR | VT_BYREF;
      a.pbstrVal = &bstrs[i];
    }
  }
  DISPPARAMS params{v.data(), nullptr, static_cast<UINT>(v.size()), 0};
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = p->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
  for (BSTR b : bstrs) SysFreeString(b);
  EXPECT_EQ(hr, S_OK);
  return result.vt == VT_I4 ? result.lVal : -1;
}

// Every number and string property, by index, as the object answers them.
std::vector<std::string> AllProperties(so::CPOSPrinter* p) {
  std::vector<std::string> out;
  auto number = [&](int32_t i) {
    out.push_back(std::to_string(i) + "=" + std::to_string(p->GetPropertyNumber(i)));
  };
  for (int32_t i = 1; i <= 14; ++i) number(i);
  for (int32_t i = 501; i <= 505; ++i) number(i);
  for (int32_t i = 8001; i <= 8050; ++i) number(i);
  for (int32_t i = 8501; i <= 8561; ++i) number(i);
  for (int32_t i : {1000001, 1000002, 1000003, 1000004, 1008001, 1008003, 1008005, 1008006, 1008007,
                    1008009, 1008011, 1008012})
    out.push_back(std::to_string(i) + "=" + p->GetPropertyString(i));
  return out;
}

// Opened again after Close, the same object answers as a new one does, and holds
// one reference to the control object at most.
TEST_F(SoTest, ReopenedObjectBehavesAsANewOne) {
  so::CPOSPrinter* p = Opened();
  const std::vector<std::string> fresh = AllProperties(p);
  EXPECT_EQ(co_.refs, 1);
  p->SetPropertyNumber(PIDX_MapMode, 2);  // twips
  p->SetPropertyNumber(PIDX_BinaryConversion, 1);
  p->SetPropertyNumber(PIDX_AsyncMode, 1);
  p->SetPropertyNumber(PIDX_FlagWhenIdle, 1);
  p->SetPropertyNumber(PIDX_PageModePrintDirection, 3);
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  p->SetPropertyNumber(PIDX_CharacterSet, 1252);
  p->SetPropertyNumber(PIDX_RecLineChars, 56);
  ASSERT_EQ(p->PrintNormal(2, "x"), 0);
  ASSERT_EQ(p->CheckHealth(1), 0);
  ASSERT_EQ(p->Close(), 0);
  EXPECT_EQ(co_.refs, 0);

  ASSERT_EQ(p->OpenService("POSPrinter", kDevice, &co_), 0);
  EXPECT_EQ(co_.refs, 1);
  EXPECT_EQ(AllProperties(p), fresh);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineHeight), 24);   // RecLineHeight in dots
  EXPECT_EQ(p->GetPropertyNumber(PIDX_RecLineSpacing), 30);  // RecLineSpacing in dots
  ASSERT_EQ(p->Close(), 0);
  EXPECT_EQ(co_.refs, 0);
}

TEST_F(SoTest, UnsupportedMethodsAre106InEveryState) {
  const DISPID unsupported[] = {13, 14, 15, 16, 28, 29, 30, 31, 32, 33, 34};
  so::CPOSPrinter* p = NewPrinter();
  auto check = [&](const char* state) {
    SCOPED_TRACE(state);
    for (DISPID id : unsupported) {
      SCOPED_TRACE(std::string(opos::kDispatchMethods[id - 1].name));
      EXPECT_EQ(InvokeById(p, id), 106);
      EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
      EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCodeExtended), 0);
    }
  };
  check("before OpenService");
  ASSERT_EQ(p->OpenService("POSPrinter", kDevice, &co_), 0);
  check("open");
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  check("claimed");
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  check("enabled");
  fake_.Take(p->port_handle());
  EXPECT_EQ(InvokeById(p, 32), 106);
  EXPECT_EQ(fake_.Take(p->port_handle()), "");  // nothing reaches the printer
  p->Close();
  check("closed again");
}

}  // namespace
}  // namespace qz381::testing
