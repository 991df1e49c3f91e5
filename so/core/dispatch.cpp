// The dispatch interface: 36 methods by identifier 1..36, looked up by name.
#include <array>
#include <exception>
#include <string_view>

#include "common/dispatch_methods.h"
#include "platform/com.h"
#include "platform/trace.h"
#include "platform/type_library.h"
#include "so/core/pos_printer.h"
#include "so/core/server.h"

namespace qz381::so {

namespace {

// Reads the arguments of one call; they arrive in reverse order.
class Args {
 public:
  Args(DISPPARAMS* p, UINT* arg_error) : p_(p), arg_error_(arg_error) {}

  bool Count(UINT n) const { return p_ && p_->cArgs == n; }
  bool Long(UINT i, int32_t* out) {
    const VARIANT* v = Resolve(i);
    if (!v) return Bad(i);
    switch (v->vt) {
      case VT_I4:
      case VT_INT:
        *out = v->lVal;
        return true;
      case VT_UI4:
        *out = static_cast<int32_t>(v->ulVal);
        return true;
      case VT_I2:
        *out = v->iVal;
        return true;
      case VT_BOOL:
        *out = v->boolVal ? 1 : 0;
        return true;
      case VT_I4 | VT_BYREF:
        if (!v->plVal) return Bad(i);
        *out = *v->plVal;
        return true;
      default:
        return Bad(i);
    }
  }
  bool Text(UINT i, std::string* out) {
    const VARIANT* v = Resolve(i);
    if (!v) return Bad(i);
    if (v->vt == VT_BSTR)
      *out = platform::AnsiFromBstr(v->bstrVal);
    else if (v->vt == (VT_BSTR | VT_BYREF) && v->pbstrVal)
      *out = platform::AnsiFromBstr(*v->pbstrVal);
    else
      return Bad(i);
    return true;
  }
  IDispatch* Dispatch(UINT i) {
    const VARIANT* v = Resolve(i);
    if (!v) return nullptr;
    if (v->vt == VT_DISPATCH) return v->pdispVal;
    if (v->vt == (VT_DISPATCH | VT_BYREF) && v->byref) return *static_cast<IDispatch**>(v->byref);
    return nullptr;
  }
  // [in, out] long*: null when the caller did not pass a reference.
  int32_t* LongRef(UINT i) {
    VARIANT* v = Resolve(i);
    return v && v->vt == (VT_I4 | VT_BYREF) ? reinterpret_cast<int32_t*>(v->plVal) : nullptr;
  }
  BSTR* BstrRef(UINT i) {
    VARIANT* v = Resolve(i);
    return v && v->vt == (VT_BSTR | VT_BYREF) ? v->pbstrVal : nullptr;
  }
  bool Bad(UINT i) {
    if (arg_error_) *arg_error_ = p_ ? p_->cArgs - 1 - i : 0;
    return false;
  }

 private:
  VARIANT* Resolve(UINT i) {
    if (!p_ || i >= p_->cArgs || !p_->rgvarg) return nullptr;
    VARIANT* v = &p_->rgvarg[p_->cArgs - 1 - i];
    if (v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
    return v;
  }
  DISPPARAMS* p_;
  UINT* arg_error_;
};

void SetLong(VARIANT* result, int32_t value) {
  if (!result) return;
  VariantInit(result);
  result->vt = VT_I4;
  result->lVal = value;
}

}  // namespace

// Type information comes from the type library embedded in this module (on
// Windows; elsewhere there is none and the count is 0).
HRESULT CPOSPrinter::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = platform::HasClassTypeInfo(&opos::kDispatchMethods, CLSID_POSPrinterSO) ? 1 : 0;
  return S_OK;
}

HRESULT CPOSPrinter::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return platform::LoadClassTypeInfo(&opos::kDispatchMethods, CLSID_POSPrinterSO, info);
}

HRESULT CPOSPrinter::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (UINT n = 0; n < count; ++n) ids[n] = -1;
  // Names are ASCII; anything else cannot match.
  std::string wanted;
  for (const OLECHAR* c = names[0]; c && *c; ++c)
    wanted.push_back(*c < 0x80 ? static_cast<char>(*c) : '\x7f');
  int id = opos::DispatchIdOf(wanted);
  if (id == 0)
    hr = DISP_E_UNKNOWNNAME;
  else
    ids[0] = id;
  if (count > 1) hr = DISP_E_UNKNOWNNAME;  // the methods have no named arguments
  return hr;
}

// The control object is another module, perhaps of another compiler: nothing
// thrown inside a method (an allocation that failed, a thread that could not
// start) may unwind into it. It gets DISP_E_EXCEPTION and the trace says why.
HRESULT CPOSPrinter::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO*, UINT* arg_error) try {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (id < 1 || id > static_cast<DISPID>(opos::kDispatchMethods.size()))
    return DISP_E_MEMBERNOTFOUND;
  Args a(params, arg_error);
  if (!a.Count(static_cast<UINT>(opos::kDispatchMethods[id - 1].params.size())))
    return DISP_E_BADPARAMCOUNT;
  int32_t n[7] = {};
  std::string s[3];
  // Each case reads its arguments, then calls; a mismatch is the caller's fault.
#define LONG_ARG(i) \
  if (!a.Long(i, &n[i])) return DISP_E_TYPEMISMATCH
#define TEXT_ARG(i, slot) \
  if (!a.Text(i, &s[slot])) return DISP_E_TYPEMISMATCH
  switch (id) {
    case 1:
      LONG_ARG(0);
      SetLong(result, GetPropertyNumber(n[0]));
      return S_OK;
    case 2:
      LONG_ARG(0);
      LONG_ARG(1);
      SetPropertyNumber(n[0], n[1]);
      return S_OK;
    case 3:
      LONG_ARG(0);
      if (result) {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = platform::AllocBstrFromAnsi(GetPropertyString(n[0]));
      }
      return S_OK;
    case 4:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      SetPropertyString(n[0], s[0]);
      return S_OK;
    case 5:
      TEXT_ARG(0, 0);
      TEXT_ARG(1, 1);
      SetLong(result, OpenService(s[0], s[1], a.Dispatch(2)));
      return S_OK;
    case 6:
      SetLong(result, Close());
      return S_OK;
    case 7:
      LONG_ARG(0);
      SetLong(result, ClaimDevice(n[0]));
      return S_OK;
    case 8:
      SetLong(result, ReleaseDevice());
      return S_OK;
    case 9:
      LONG_ARG(0);
      SetLong(result, CheckHealth(n[0]));
      return S_OK;
    case 10: {
      LONG_ARG(0);
      int32_t* data = a.LongRef(1);
      BSTR* text_ref = a.BstrRef(2);
      int32_t data_value = data ? *data : 0;
      if (!data && !a.Long(1, &data_value)) return DISP_E_TYPEMISMATCH;
      std::string text;
      if (text_ref) {
        text = platform::AnsiFromBstr(*text_ref);
      } else {
        TEXT_ARG(2, 0);
        text = s[0];
      }
      // Read, never written back: a round trip through the code page would
      // hand the application back a changed string.
      int32_t rc = DirectIO(n[0], &data_value, &text);
      SetLong(result, rc);
      return S_OK;
    }
    case 11:
      LONG_ARG(0);
      SetLong(result, COFreezeEvents(n[0]));
      return S_OK;
    case 12:
      SetLong(result, ClearOutput());
      return S_OK;
    case 17:
      LONG_ARG(0);
      SetLong(result, CutPaper(n[0]));
      return S_OK;
    case 18:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      for (UINT i = 2; i < 7; ++i) LONG_ARG(i);
      SetLong(result, PrintBarCode(n[0], s[0], n[2], n[3], n[4], n[5], n[6]));
      return S_OK;
    case 19:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      LONG_ARG(2);
      LONG_ARG(3);
      SetLong(result, PrintBitmap(n[0], s[0], n[2], n[3]));
      return S_OK;
    case 20:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      SetLong(result, PrintImmediate(n[0], s[0]));
      return S_OK;
    case 21:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      SetLong(result, PrintNormal(n[0], s[0]));
      return S_OK;
    case 22:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      TEXT_ARG(2, 1);
      SetLong(result, PrintTwoNormal(n[0], s[0], s[1]));
      return S_OK;
    case 23:
      LONG_ARG(0);
      LONG_ARG(1);
      SetLong(result, RotatePrint(n[0], n[1]));
      return S_OK;
    case 24:
      LONG_ARG(0);
      LONG_ARG(1);
      TEXT_ARG(2, 0);
      LONG_ARG(3);
      LONG_ARG(4);
      SetLong(result, SetBitmap(n[0], n[1], s[0], n[3], n[4]));
      return S_OK;
    case 25:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      SetLong(result, SetLogo(n[0], s[0]));
      return S_OK;
    case 26:
      LONG_ARG(0);
      LONG_ARG(1);
      SetLong(result, TransactionPrint(n[0], n[1]));
      return S_OK;
    case 27:
      LONG_ARG(0);
      TEXT_ARG(1, 0);
      SetLong(result, ValidateData(n[0], s[0]));
      return S_OK;
    case 35:
      SetLong(result, ClearPrintArea());
      return S_OK;
    case 36:
      LONG_ARG(0);
      SetLong(result, pageModePrint(n[0]));
      return S_OK;
    default:
      // 13-16 and 28-34: not supported by the device, whatever the arguments.
      SetLong(result, Unsupported());
      return S_OK;
  }
#undef LONG_ARG
#undef TEXT_ARG
} catch (const std::exception& e) {
  platform::Trace("Invoke %ld: stopped by an exception (%s)", static_cast<long>(id), e.what());
  return DISP_E_EXCEPTION;
} catch (...) {
  platform::Trace("Invoke %ld: stopped by an exception", static_cast<long>(id));
  return DISP_E_EXCEPTION;
}

}  // namespace qz381::so
