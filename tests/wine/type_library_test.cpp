// The type information a client gets from the built service object: the
// object's GetTypeInfoCount and GetTypeInfo answer from the type library
// embedded in QZ381PrinterSO.dll, and that library describes every dispatch
// method exactly as the object dispatches it (common/dispatch_methods.h):
// name, identifier, parameters and what each call answers.
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "common/dispatch_methods.h"
#include "platform/com.h"
#include "platform/dynlib.h"

namespace {

using qz381::opos::kDispatchMethods;

const CLSID kClsid = {0x73CB53A0, 0x3B85, 0x4DF8, {0xA2, 0x8D, 0x73, 0x1B, 0x63, 0xBE, 0x43, 0xB7}};

std::string Narrow(const BSTR text) {
  std::string out;
  for (const OLECHAR* c = text; c && *c; ++c) out.push_back(*c < 0x80 ? char(*c) : '?');
  return out;
}

// A type as the table writes it: L long, S string, D dispatch interface,
// l and s the same passed by reference; '?' for anything else.
char Letter(const TYPEDESC& type) {
  switch (type.vt) {
    case VT_I4:
      return 'L';
    case VT_BSTR:
      return 'S';
    case VT_DISPATCH:
      return 'D';
    case VT_PTR:
      if (type.lptdesc->vt == VT_I4) return 'l';
      if (type.lptdesc->vt == VT_BSTR) return 's';
      if (type.lptdesc->vt == VT_DISPATCH || type.lptdesc->vt == VT_USERDEFINED) return 'D';
      return '?';
    default:
      return '?';
  }
}

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    qz381::platform::Status status;
    module_ = qz381::platform::DynamicLibrary::Load(QZ381_SO_MODULE, &status);
    ASSERT_TRUE(module_) << status.ToString();
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObject>(module_->Symbol("DllGetClassObject"));
    ASSERT_NE(get, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(get(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object_)),
              S_OK);
    factory->Release();
  }
  void TearDown() override {
    if (object_) object_->Release();
    module_.reset();
    ::CoUninitialize();
  }

  std::unique_ptr<qz381::platform::DynamicLibrary> module_;
  IDispatch* object_ = nullptr;
};

TEST_F(TypeLibraryTest, TheObjectAnswersFromItsEmbeddedLibrary) {
  UINT count = 0;
  ASSERT_EQ(object_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(object_->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info), DISP_E_BADINDEX);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
  ASSERT_EQ(object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  ASSERT_NE(info, nullptr);

  // The library the description comes from is the one in the module's file.
  ITypeLib* library = nullptr;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(&library, &index), S_OK);
  ITypeInfo* coclass = nullptr;
  EXPECT_EQ(library->GetTypeInfoOfGuid(kClsid, &coclass), S_OK);
  if (coclass) coclass->Release();
  library->Release();
  info->Release();
}

TEST_F(TypeLibraryTest, EveryMethodIsDescribedAsItIsDispatched) {
  ITypeInfo* info = nullptr;
  ASSERT_EQ(object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
  const UINT functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  EXPECT_EQ(functions, kDispatchMethods.size());

  std::set<MEMBERID> seen;
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* function = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &function), S_OK);
    const MEMBERID id = function->memid;
    ASSERT_TRUE(id >= 1 && id <= MEMBERID(kDispatchMethods.size())) << "identifier " << id;
    EXPECT_TRUE(seen.insert(id).second) << "identifier " << id << " twice";
    const auto& method = kDispatchMethods[id - 1];
    SCOPED_TRACE(std::string(method.name));

    BSTR names[16] = {};
    UINT named = 0;
    ASSERT_EQ(info->GetNames(id, names, 16, &named), S_OK);
    EXPECT_EQ(Narrow(names[0]), method.name);
    for (UINT n = 0; n < named; ++n) ::SysFreeString(names[n]);

    std::string params;
    for (SHORT p = 0; p < function->cParams; ++p) {
      const ELEMDESC& param = function->lprgelemdescParam[p];
      const char letter = Letter(param.tdesc);
      params.push_back(letter);
      const USHORT flags = param.paramdesc.wParamFlags;
      const bool by_reference = letter == 'l' || letter == 's';
      EXPECT_TRUE(flags & PARAMFLAG_FIN) << "parameter " << p;
      EXPECT_EQ(bool(flags & PARAMFLAG_FOUT), by_reference) << "parameter " << p;
    }
    EXPECT_EQ(params, method.params);

    VARTYPE answers = VT_I4;
    if (method.name == "GetPropertyString") answers = VT_BSTR;
    if (method.name == "SetPropertyNumber" || method.name == "SetPropertyString") answers = VT_VOID;
    EXPECT_EQ(function->elemdescFunc.tdesc.vt, answers);
    info->ReleaseFuncDesc(function);

    // A client that looks names up through the description gets the
    // identifier the object itself gives.
    std::wstring wide(method.name.begin(), method.name.end());
    LPOLESTR name = wide.data();
    MEMBERID by_description = 0;
    DISPID by_object = 0;
    EXPECT_EQ(info->GetIDsOfNames(&name, 1, &by_description), S_OK);
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &by_object), S_OK);
    EXPECT_EQ(by_description, id);
    EXPECT_EQ(by_object, id);
  }
  EXPECT_EQ(seen.size(), kDispatchMethods.size());
  info->Release();
}

}  // namespace
