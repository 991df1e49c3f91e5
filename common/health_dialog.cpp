#include "common/health_dialog.h"

#include <string_view>

#include "platform/trace.h"

namespace qz381::opos {

namespace {

bool SameName(const OLECHAR* wide, std::string_view narrow) {
  size_t i = 0;
  for (; wide != nullptr && wide[i] != 0; ++i) {
    if (i >= narrow.size()) return false;
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; };
    if (lower(wide[i]) != lower(static_cast<char16_t>(narrow[i]))) return false;
  }
  return i == narrow.size();
}

bool IsByRef(const VARIANT& v, VARTYPE type) {
  return v.vt == (type | VT_BYREF) && v.byref != nullptr;
}

HRESULT CallMethod(IDispatch* target, DISPID id, VARIANT* args, UINT count, VARIANT* result) {
  DISPPARAMS params{args, nullptr, count, 0};
  return target->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &params, result,
                        nullptr, nullptr);
}

}  // namespace

HealthDialogDevice::HealthDialogDevice(PrintFn print, StatusFn status)
    : print_(std::move(print)), status_(std::move(status)) {}

void HealthDialogDevice::Close() {
  std::lock_guard<std::mutex> hold(mutex_);
  closed_ = true;
  print_ = nullptr;
  status_ = nullptr;
}

HRESULT HealthDialogDevice::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG HealthDialogDevice::AddRef() {
  return ++references_;
}

ULONG HealthDialogDevice::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT HealthDialogDevice::GetTypeInfoCount(UINT* count) {
  if (count != nullptr) *count = 0;
  return S_OK;
}

HRESULT HealthDialogDevice::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}

HRESULT HealthDialogDevice::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (names == nullptr || ids == nullptr || count != 1) return E_INVALIDARG;
  ids[0] = SameName(names[0], "Print")    ? kHealthDialogPrint
           : SameName(names[0], "Status") ? kHealthDialogStatus
                                          : -1;
  return ids[0] == -1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT HealthDialogDevice::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) try {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (id != kHealthDialogPrint && id != kHealthDialogStatus) return DISP_E_MEMBERNOTFOUND;
  const UINT wanted = id == kHealthDialogPrint ? 1 : 4;
  if (params == nullptr || params->cArgs != wanted || params->rgvarg == nullptr)
    return DISP_E_BADPARAMCOUNT;
  VARIANT* a = params->rgvarg;  // reverse order
  for (UINT i = 0; i < wanted; ++i) {
    if (!IsByRef(a[i], id == kHealthDialogPrint ? VT_BSTR : VT_I4)) return DISP_E_TYPEMISMATCH;
  }
  std::lock_guard<std::mutex> hold(mutex_);
  if (closed_) {
    platform::Trace("health dialog: the check has ended; call %d refused", static_cast<int>(id));
    return E_UNEXPECTED;
  }
  if (id == kHealthDialogPrint) {
    std::string text;
    const int32_t rc = print_(&text);
    SysFreeString(*a[0].pbstrVal);
    *a[0].pbstrVal = platform::AllocBstrFromAnsi(text);
    if (result != nullptr) {
      VariantInit(result);
      result->vt = VT_I4;
      result->lVal = rc;
    }
    return S_OK;
  }
  const HealthStatus status = status_();
  *a[3].plVal = status.power_state;
  *a[2].plVal = status.cover_open;
  *a[1].plVal = status.receipt_empty;
  *a[0].plVal = status.receipt_near_end;
  return S_OK;
} catch (...) {
  // The dialog is another module's; nothing may unwind into it.
  platform::Trace("health dialog: call %d failed with an exception", static_cast<int>(id));
  return DISP_E_EXCEPTION;
}

bool ShowHealthDialog(IDispatch* control_object, const std::string& title, const std::string& info,
                      HealthDialogDevice* device) {
  if (control_object == nullptr) return false;
  platform::Bstr name(kHealthDialogCallback);
  LPOLESTR names = name.get();
  DISPID id = -1;
  if (FAILED(control_object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_SYSTEM_DEFAULT, &id))) {
    platform::Trace("CheckHealth: the control object shows no interactive dialog");
    return false;
  }
  platform::Bstr title_text(title), info_text(info);
  VARIANT args[3];
  for (VARIANT& v : args) VariantInit(&v);
  args[2].vt = VT_BSTR;
  args[2].bstrVal = title_text.get();
  args[1].vt = VT_BSTR;
  args[1].bstrVal = info_text.get();
  args[0].vt = VT_DISPATCH;
  args[0].pdispVal = device;
  const HRESULT hr = CallMethod(control_object, id, args, 3, nullptr);
  if (FAILED(hr)) {
    platform::Trace("CheckHealth: the dialog failed with 0x%08X", static_cast<unsigned>(hr));
    return false;
  }
  return true;
}

int32_t HealthDialogPrint(IDispatch* device, std::string* result_text) {
  result_text->clear();
  platform::Bstr text;
  VARIANT arg, result;
  VariantInit(&arg);
  VariantInit(&result);
  arg.vt = VT_BSTR | VT_BYREF;
  arg.pbstrVal = text.out();
  const HRESULT hr = CallMethod(device, kHealthDialogPrint, &arg, 1, &result);
  if (FAILED(hr) || result.vt != VT_I4) {
    VariantClear(&result);
    return -1;
  }
  *result_text = text.ansi();
  return result.lVal;
}

HealthStatus HealthDialogStatus(IDispatch* device) {
  LONG values[4] = {};
  VARIANT args[4];
  for (int i = 0; i < 4; ++i) {
    VariantInit(&args[3 - i]);  // reverse order
    args[3 - i].vt = VT_I4 | VT_BYREF;
    args[3 - i].plVal = &values[i];
  }
  if (FAILED(CallMethod(device, kHealthDialogStatus, args, 4, nullptr))) return {};
  return {values[0], values[1], values[2], values[3]};
}

}  // namespace qz381::opos
