#include "platform/dynlib.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/sync.h"

namespace qz381::platform {
namespace {

const std::string kModule = QZ381_TEST_MODULE;

TEST(DynamicLibraryTest, LoadsByPathAndFindsExports) {
  Status status = Status::Fail(Outcome::kBusy, "not set");
  auto lib = DynamicLibrary::Load(kModule, &status);
  ASSERT_TRUE(status.ok()) << status.context();
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(lib->path(), kModule);

  auto answer = reinterpret_cast<int (*)()>(lib->Symbol("Qz381TestAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(lib->Symbol("qz381testanswer"), nullptr);  // exact names only
  EXPECT_EQ(lib->Symbol("NoSuchExport"), nullptr);

  auto where = reinterpret_cast<const void* (*)()>(lib->Symbol("Qz381TestAddress"));
  ASSERT_NE(where, nullptr);
  EXPECT_EQ(ModulePathOf(where()), std::filesystem::absolute(kModule).lexically_normal().string());
}

TEST(DynamicLibraryTest, MissingFileIsNotFoundAndBadFileIsIoError) {
  Status status;
  EXPECT_EQ(DynamicLibrary::Load(kModule + ".missing", &status), nullptr);
  EXPECT_EQ(status.outcome(), Outcome::kNotFound);

  auto junk = std::filesystem::temp_directory_path() /
              ("qz381-not-a-module-" + std::to_string(std::random_device()()) + ".so");
  std::ofstream(junk) << "not a module";
  EXPECT_EQ(DynamicLibrary::Load(junk.string(), &status), nullptr);
  std::filesystem::remove(junk);
  EXPECT_EQ(status.outcome(), Outcome::kIoError);
  EXPECT_NE(status.context().find(junk.filename().string()), std::string::npos) << status.context();
}

TEST(ModulePathOfTest, NamesTheProgramAndTheRuntime) {
  static int in_program = 0;
  std::filesystem::path program = ModulePathOf(&in_program);
  EXPECT_TRUE(program.is_absolute()) << program;
  EXPECT_EQ(program.filename(), QZ381_TEST_PROGRAM_FILE);

  std::filesystem::path runtime = ModulePathOf(reinterpret_cast<const void*>(&TickCount));
  EXPECT_TRUE(runtime.is_absolute()) << runtime;
  EXPECT_EQ(runtime.filename(), QZ381_RUNTIME_FILE);

  int on_stack = 0;
  EXPECT_EQ(ModulePathOf(&on_stack), "");
}

}  // namespace
}  // namespace qz381::platform
