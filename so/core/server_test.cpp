// The in-process server exports of the built QZ381PrinterSO module, loaded by
// path as the control object loads it, against a registry file of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com.h"
#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "so/core/testdata/test_support.h"

namespace qz381::testing {
namespace {

using platform::Hive;

constexpr char kProgId[] = "VORNAQZ381.POSPrinter.ServiceObject.1.9";
constexpr char kClsid[] = "{73CB53A0-3B85-4DF8-A28D-731B63BE43B7}";

class ServerTest : public ::testing::Test {
 protected:
  using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
  using PlainFn = HRESULT (*)();

  void SetUp() override {
    registry_path_ = dir_.File("registry.reg");
    platform::SetEnvironmentValue("QZ381_REGISTRY", registry_path_);
    platform::Status st;
    module_ = platform::DynamicLibrary::Load(QZ381_SO_MODULE, &st);
    ASSERT_TRUE(module_) << st.ToString();
    get_class_object_ = reinterpret_cast<GetClassObjectFn>(module_->Symbol("DllGetClassObject"));
    can_unload_ = reinterpret_cast<PlainFn>(module_->Symbol("DllCanUnloadNow"));
    register_ = reinterpret_cast<PlainFn>(module_->Symbol("DllRegisterServer"));
    unregister_ = reinterpret_cast<PlainFn>(module_->Symbol("DllUnregisterServer"));
    ASSERT_TRUE(get_class_object_ && can_unload_ && register_ && unregister_);
  }
  void TearDown() override { platform::ClearEnvironmentValue("QZ381_REGISTRY"); }

  ScratchDir dir_;
  std::string registry_path_;
  std::unique_ptr<platform::DynamicLibrary> module_;
  GetClassObjectFn get_class_object_ = nullptr;
  PlainFn can_unload_ = nullptr, register_ = nullptr, unregister_ = nullptr;
};

TEST_F(ServerTest, UnknownClassIsNotAvailable) {
  GUID other{};
  ASSERT_TRUE(platform::GuidFromString("{F59DEE36-35E6-430E-A50F-25D3371213E4}", &other));
  void* factory = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class_object_(other, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
}

TEST_F(ServerTest, CanUnloadOnlyWhenNoObjectLives) {
  GUID clsid{};
  ASSERT_TRUE(platform::GuidFromString(kClsid, &clsid));
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get_class_object_(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(can_unload_(), S_OK);

  IDispatch* first = nullptr;
  IDispatch* second = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&first)),
            S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&second)),
            S_OK);
  EXPECT_EQ(can_unload_(), S_FALSE);
  first->Release();
  EXPECT_EQ(can_unload_(), S_FALSE);  // one is still alive
  second->Release();
  EXPECT_EQ(can_unload_(), S_OK);

  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(can_unload_(), S_FALSE);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(can_unload_(), S_OK);
  factory->Release();
}

TEST_F(ServerTest, RegistrationWritesAndUnregistrationRemovesBothKeys) {
  EXPECT_EQ(register_(), S_OK);
  auto reg = platform::OpenRegistryFile(registry_path_);
  std::string clsid, server;
  ASSERT_TRUE(
      platform::ReadText(*reg, Hive::kClassesRoot, std::string(kProgId) + "\\CLSID", "", &clsid)
          .ok());
  EXPECT_EQ(clsid, kClsid);
  ASSERT_TRUE(platform::ReadText(*reg, Hive::kClassesRoot,
                                 std::string("CLSID\\") + kClsid + "\\InprocServer32", "", &server)
                  .ok());
  EXPECT_TRUE(std::filesystem::path(server).is_absolute()) << server;
  EXPECT_TRUE(std::filesystem::equivalent(server, QZ381_SO_MODULE)) << server;
  std::string progid;
  ASSERT_TRUE(platform::ReadText(*reg, Hive::kClassesRoot,
                                 std::string("CLSID\\") + kClsid + "\\ProgID", "", &progid)
                  .ok());
  EXPECT_EQ(progid, kProgId);

  EXPECT_EQ(unregister_(), S_OK);
  reg = platform::OpenRegistryFile(registry_path_);
  EXPECT_FALSE(reg->KeyExists(Hive::kClassesRoot, kProgId).ok());
  EXPECT_FALSE(reg->KeyExists(Hive::kClassesRoot, std::string("CLSID\\") + kClsid).ok());
  // Unregistering what is not there still answers S_OK.
  EXPECT_EQ(unregister_(), S_OK);
}

// A registry that cannot be written (here a file whose folder is a plain file,
// which no rights can change) fails the registration: the installer hears of
// it, and nothing is left half there.
TEST_F(ServerTest, ARegistrationThatCannotBeWrittenFailsAndLeavesNothing) {
  const std::string not_a_folder = dir_.File("plain-file");
  { std::ofstream(not_a_folder) << "x"; }
  platform::SetEnvironmentValue("QZ381_REGISTRY", not_a_folder + "/registry.reg");
  EXPECT_EQ(register_(), SELFREG_E_CLASS);
  EXPECT_FALSE(std::filesystem::exists(not_a_folder + "/registry.reg"));
  platform::SetEnvironmentValue("QZ381_REGISTRY", registry_path_);
  EXPECT_EQ(register_(), S_OK);
}

}  // namespace
}  // namespace qz381::testing
