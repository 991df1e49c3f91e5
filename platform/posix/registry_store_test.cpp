// The file store's own promises, beyond the contract every Registry keeps: what
// other processes and people editing the file see, and what it does with a file
// it cannot use.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/registry.h"

namespace qz381::platform {
namespace {

constexpr auto kLM = Hive::kLocalMachine;

class RegistryStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/qz381-store-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir_ = templ;
    path_ = dir_ + "/registry.reg";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteRaw(const std::string& text) { ASSERT_TRUE(WriteFileAtomically(path_, text).ok()); }
  std::string ReadRaw() {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path_, &text).ok());
    return text;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(RegistryStoreTest, MissingFileIsEmptyAndFirstWriteCreatesIt) {
  const std::string nested = dir_ + "/a/b/registry.reg";
  auto reg = OpenRegistryFile(nested);
  RegValue value;
  EXPECT_EQ(reg->GetValue(kLM, "K", "v", &value).outcome(), Outcome::kNotFound);
  EXPECT_FALSE(FileExists(nested));

  ASSERT_TRUE(reg->SetValue(kLM, "K", "v", RegValue::Text("x")).ok());
  std::string text;
  ASSERT_TRUE(ReadWholeFile(nested, &text).ok());
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"x\"\r\n\r\n");
}

TEST_F(RegistryStoreTest, SeesChangesMadeByOthers) {
  auto a = OpenRegistryFile(path_);
  auto b = OpenRegistryFile(path_);
  std::string text;
  ASSERT_TRUE(a->SetValue(kLM, "K", "v", RegValue::Text("1")).ok());
  ASSERT_TRUE(ReadText(*b, kLM, "K", "v", &text).ok());  // b caches the file now
  EXPECT_EQ(text, "1");
  ASSERT_TRUE(a->SetValue(kLM, "K", "v", RegValue::Text("2")).ok());
  ASSERT_TRUE(ReadText(*b, kLM, "K", "v", &text).ok());
  EXPECT_EQ(text, "2");

  // A person editing the file by hand, same size as before.
  WriteRaw(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"3\"\r\n\r\n");
  ASSERT_TRUE(ReadText(*b, kLM, "K", "v", &text).ok());
  EXPECT_EQ(text, "3");
  std::filesystem::remove(path_);
  EXPECT_EQ(ReadText(*b, kLM, "K", "v", &text).outcome(), Outcome::kNotFound);
}

TEST_F(RegistryStoreTest, MalformedFileIsReportedAndNeverOverwritten) {
  const std::string broken =
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=dword:xyz\r\n";
  WriteRaw(broken);
  auto reg = OpenRegistryFile(path_);
  RegValue value;
  Status status = reg->GetValue(kLM, "K", "other", &value);
  EXPECT_EQ(status.outcome(), Outcome::kMalformed);
  EXPECT_EQ(status.context(), path_ + ":3: bad dword");
  EXPECT_EQ(reg->SetValue(kLM, "K", "v", RegValue::Dword(1)).outcome(), Outcome::kMalformed);
  EXPECT_EQ(ReadRaw(), broken);

  // Once mended, the same object reads it.
  WriteRaw("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=dword:1\r\n");
  EXPECT_TRUE(reg->GetValue(kLM, "K", "v", &value).ok());
}

// Each writer adds its own values with a Registry of its own; the file lock and
// the re-read under it must keep every one of them.
void WriteMany(const std::string& path, const std::string& who, int count) {
  auto reg = OpenRegistryFile(path);
  for (int i = 0; i < count; ++i) {
    if (!reg->SetValue(kLM, "Shared", who + std::to_string(i), RegValue::Dword(i)).ok()) return;
  }
}

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNoUpdate) {
  constexpr int kPerWriter = 25;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      WriteMany(path_, "process" + std::to_string(c) + "-", kPerWriter);
      ::_exit(0);
    }
  }
  std::thread t1(WriteMany, path_, "threadA-", kPerWriter);
  std::thread t2(WriteMany, path_, "threadB-", kPerWriter);
  t1.join();
  t2.join();
  for (pid_t child : children) {
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  }

  auto reg = OpenRegistryFile(path_);
  std::vector<std::string> names;
  ASSERT_TRUE(reg->EnumValues(kLM, "Shared", &names).ok());
  EXPECT_EQ(names.size(), 4u * kPerWriter);
  uint32_t number = 0;
  ASSERT_TRUE(ReadNumber(*reg, kLM, "Shared", "process1-24", &number).ok());
  EXPECT_EQ(number, 24u);
}

TEST_F(RegistryStoreTest, DefaultRegistryFollowsTheEnvironment) {
  const char* saved_registry = std::getenv("QZ381_REGISTRY");
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string restore_registry = saved_registry ? saved_registry : "";
  const std::string restore_xdg = saved_xdg ? saved_xdg : "";

  ::setenv("QZ381_REGISTRY", path_.c_str(), 1);
  ASSERT_TRUE(DefaultRegistry().SetValue(kLM, "K", "v", RegValue::Text("env")).ok());
  EXPECT_TRUE(FileExists(path_));

  ::unsetenv("QZ381_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  ASSERT_TRUE(DefaultRegistry().SetValue(kLM, "K", "v", RegValue::Text("xdg")).ok());
  EXPECT_TRUE(FileExists(dir_ + "/qz381/registry.reg"));

  ::setenv("QZ381_REGISTRY", path_.c_str(), 1);
  std::string text;
  ASSERT_TRUE(ReadText(DefaultRegistry(), kLM, "K", "v", &text).ok());
  EXPECT_EQ(text, "env");

  if (saved_registry)
    ::setenv("QZ381_REGISTRY", restore_registry.c_str(), 1);
  else
    ::unsetenv("QZ381_REGISTRY");
  if (saved_xdg)
    ::setenv("XDG_CONFIG_HOME", restore_xdg.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(RegistryStoreTest, FileHelpers) {
  std::string text;
  EXPECT_EQ(ReadWholeFile(dir_ + "/none", &text).outcome(), Outcome::kNotFound);

  ASSERT_TRUE(MakeDirectories(dir_ + "/x/y/z").ok());
  ASSERT_TRUE(MakeDirectories(dir_ + "/x/y/z").ok());
  const std::string file = dir_ + "/x/y/z/f";
  ASSERT_TRUE(WriteFileAtomically(file, std::string("a\0b", 3)).ok());
  ::chmod(file.c_str(), 0600);
  ASSERT_TRUE(WriteFileAtomically(file, "new").ok());
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // a rewrite keeps the file's mode

  ASSERT_TRUE(CopyFileTo(file, dir_ + "/copy").ok());
  ASSERT_TRUE(ReadWholeFile(dir_ + "/copy", &text).ok());
  EXPECT_EQ(text, "new");
  EXPECT_EQ(MakeDirectories(file + "/below").outcome(), Outcome::kIoError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ + "/x/y/z"),
                          std::filesystem::directory_iterator()),
            1);  // no temporary files left behind
}

}  // namespace
}  // namespace qz381::platform
