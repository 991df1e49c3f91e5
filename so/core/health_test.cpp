// CheckHealth's levels and the DirectIO commands, as bytes at the port.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/health_dialog.h"
#include "common/properties.h"
#include "so/core/pos_printer.h"
#include "so/core/testdata/so_fixture.h"

namespace qz381::testing {
namespace {

std::string Text(so::CPOSPrinter* p) {
  return p->GetPropertyString(PIDX_CheckHealthText);
}

TEST_F(SoTest, CheckHealthProbesPrintsATestPageAndRefusesOtherLevels) {
  so::CPOSPrinter* p = Opened();
  EXPECT_EQ(Text(p), "Not Executed");
  EXPECT_EQ(p->CheckHealth(1), 103);  // not claimed
  Discard(p);

  p = Enabled();
  const int32_t port = p->port_handle();
  EXPECT_EQ(p->CheckHealth(4), 106);
  EXPECT_EQ(p->CheckHealth(0), 106);

  // Level 1: select and initialise the printer.
  ASSERT_EQ(p->CheckHealth(1), 0);
  EXPECT_EQ(fake_.Take(port), Hex(std::string("\x00\x1B\x3D\x01\x00\x00\x00\x1B\x40", 9)));
  EXPECT_EQ(Text(p), "CheckHealth: Successful");

  // Level 2: the test page, printed before the call returns even when
  // asynchronous output is asked for.
  p->SetPropertyNumber(PIDX_AsyncMode, 1);
  ASSERT_EQ(p->CheckHealth(2), 0);
  const std::string sent = fake_.Take(port);
  const std::string rule(42, '-');
  const size_t first = sent.find(Hex("\n" + rule + "\n"));
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(sent.find(Hex(rule + "\n"), first + 1), std::string::npos) << "two rules";
  EXPECT_NE(sent.find(Hex("Version 1.9.3\n")), std::string::npos);
  EXPECT_NE(sent.find(Hex(std::string(6, '\n') + "\x1D\x56\x01")), std::string::npos) << "cut";
  EXPECT_EQ(Text(p), "CheckHealth: Successful");

  // Level 3 has no display here: the internal check decides.
  ASSERT_EQ(p->CheckHealth(3), 0);
  EXPECT_EQ(fake_.Take(port), Hex(std::string("\x00\x1B\x3D\x01\x00\x00\x00\x1B\x40", 9)));
}

// A control object that shows the interactive dialog: `dialog` plays the
// operator in front of it. The event callbacks go to a RecordingCo.
class DialogCo final : public IDispatch {
 public:
  static constexpr DISPID kHealthDialog = 5;
  using Dialog =
      std::function<void(const std::string& title, const std::string& info, IDispatch* device)>;
  explicit DialogCo(Dialog dialog) : dialog_(std::move(dialog)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    const bool known = IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch);
    *object = known ? static_cast<IDispatch*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return events.GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) override {
    if (count == 1 &&
        std::u16string(reinterpret_cast<const char16_t*>(names[0])) == u"SOHealthDialog") {
      ids[0] = kHealthDialog;
      return S_OK;
    }
    return events.GetIDsOfNames(riid, names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* p,
                                   VARIANT* result, EXCEPINFO* info, UINT* arg) override {
    if (id != kHealthDialog) return events.Invoke(id, riid, lcid, flags, p, result, info, arg);
    if (p->cArgs != 3 || p->rgvarg[2].vt != VT_BSTR || p->rgvarg[1].vt != VT_BSTR ||
        p->rgvarg[0].vt != VT_DISPATCH)
      return DISP_E_TYPEMISMATCH;
    dialog_(platform::AnsiFromBstr(p->rgvarg[2].bstrVal),
            platform::AnsiFromBstr(p->rgvarg[1].bstrVal), p->rgvarg[0].pdispVal);
    return S_OK;
  }

  RecordingCo events;

 private:
  Dialog dialog_;
};

const std::string kInternalCheckBytes("\x00\x1B\x3D\x01\x00\x00\x00\x1B\x40", 9);

TEST_F(SoTest, InteractiveCheckPrintsFromTheHostsDialogOrElseProbes) {
  std::string title, info, print_text;
  int32_t print_result = -2;
  opos::HealthStatus status;
  bool print = true;
  IDispatch* kept = nullptr;
  DialogCo co([&](const std::string& t, const std::string& i, IDispatch* device) {
    title = t;
    info = i;
    status = opos::HealthDialogStatus(device);
    if (print) print_result = opos::HealthDialogPrint(device, &print_text);
    device->AddRef();
    kept = device;
  });
  so::CPOSPrinter* p = NewPrinter();
  ASSERT_EQ(p->OpenService("POSPrinter", kDevice, &co), 0);
  ASSERT_EQ(p->ClaimDevice(1000), 0);
  p->SetPropertyNumber(3, 1);
  const int32_t port = p->port_handle();
  fake_.Take(port);

  // The operator prints the test page: the print's result is the check's.
  ASSERT_EQ(p->CheckHealth(3), 0);
  const std::string name = p->GetPropertyString(opos::PIDX_DeviceName);
  EXPECT_EQ(title, "Printer Check Health : - Interactive -" + name);
  EXPECT_EQ(info, p->GetPropertyString(opos::PIDX_ServiceObjectDescription) + "\n1.9.3\n" +
                      p->GetPropertyString(opos::PIDX_DeviceDescription) + "\n" + name);
  EXPECT_EQ(status.power_state, p->GetPropertyNumber(opos::PIDX_PowerState));
  EXPECT_EQ(status.cover_open + status.receipt_empty + status.receipt_near_end, 0);
  EXPECT_EQ(print_result, 0);
  EXPECT_EQ(print_text, "Success (0/0)");
  const std::string sent = fake_.Take(port);
  EXPECT_NE(sent.find(Hex("Version 1.9.3\n")), std::string::npos);
  EXPECT_EQ(sent.find(Hex(kInternalCheckBytes)), std::string::npos) << "no probe after a print";
  EXPECT_EQ(Text(p), "CheckHealth: Successful");

  // A device object kept past its dialog reaches nothing.
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(opos::HealthDialogPrint(kept, &print_text), -1);
  EXPECT_EQ(fake_.Take(port), "");
  kept->Release();

  // Closed without printing: the internal check decides.
  print = false;
  ASSERT_EQ(p->CheckHealth(3), 0);
  EXPECT_EQ(fake_.Take(port), Hex(kInternalCheckBytes));
  kept->Release();
  Discard(p);  // before its control object goes
}

TEST_F(SoTest, CheckHealthReportsAShortWriteAsFailedText) {
  so::CPOSPrinter* p = Enabled();
  fake_.ShortWrites(0, 10);  // every write comes back short
  EXPECT_EQ(p->CheckHealth(1), 0);
  EXPECT_EQ(Text(p), "CheckHealth: Failed");
  fake_.ShortWrites(0, 0);
}

TEST_F(SoTest, DirectIOCommands) {
  so::CPOSPrinter* p = Enabled();
  const int32_t port = p->port_handle();
  struct Case {
    int32_t command, data;
    std::string text;
    int32_t want;
    std::string sent;
  };
  const Case cases[] = {
      {0, 0, "raw\x1B@", 0, "raw\x1B@"},
      {2, 0, "", 106, ""},
      {2, 0, "\x05", 0, std::string("\x1C\x70\x05\x00", 4)},
      {3, 0, "1", 106, ""},
      {3, 0, "12", 0, std::string("\x08\x5E\x4C\x04\x00\x45\x0C\x01\x01", 9)},
      {3, 0, "300x", 0, std::string("\x08\x5E\x4C\x04\x00\x45\x2C\x01\x01", 9)},
      {4, 0, "A", 0, "\x1B\x67\x41"},
      {4, 0, "", 106, ""},
      {9, 0, "x", 106, ""},
      {1, 3, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    int32_t data = c.data;
    std::string text = c.text;
    EXPECT_EQ(p->DirectIO(c.command, &data, &text), c.want);
    EXPECT_EQ(fake_.Take(port), Hex(c.sent));
    EXPECT_EQ(data, c.data);  // read, never written back
    EXPECT_EQ(text, c.text);
  }
  // Command 1 chose the international set: the next prologue selects it.
  ASSERT_EQ(p->PrintImmediate(2, "x"), 0);
  EXPECT_NE(fake_.Take(port).find(Hex("\x1B\x52\x03")), std::string::npos);
}

}  // namespace
}  // namespace qz381::testing
