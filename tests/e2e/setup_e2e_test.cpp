// qz381-setup as an installer runs it: a device added on the virtual printer's
// serial port from the command line, then checked at level 2, which prints the
// test page through the control object, the service object, Vexlink and com,
// and at level 3 from a terminal, where the operator prints it from the
// service object's dialog.
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "tests/e2e/e2e_fixture.h"

namespace qz381::e2e {
namespace {

class SetupE2eTest : public E2eTest {
 protected:
  // The program in a shell of its own, on the registry file of this process
  // (QZ381_REGISTRY is inherited). Answers the exit code; stdout and stderr
  // land in `output_`.
  int Setup(const std::string& words) {
    return Run(std::string(QZ381_SETUP_PROGRAM) + " " + words + " 2>&1 </dev/null");
  }
  // The same at a terminal (script(1) gives it one) typing `keys`.
  int SetupAtTerminal(const std::string& words, const std::string& keys) {
    return Run("printf '" + keys + "' | script -qec '" + QZ381_SETUP_PROGRAM + " " + words +
               "' /dev/null 2>&1");
  }
  int Run(const std::string& command) {
    output_.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output_ += buffer;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string output_;
};

TEST_F(SetupE2eTest, ASerialDeviceAddedFromTheCommandLinePrintsItsTestPage) {
  // The fixture's own device holds the port; an installer removes it first.
  ASSERT_EQ(Setup(std::string("remove ") + kDevice), 0) << output_;
  ASSERT_EQ(Setup(std::string("add QZ381 --port ") + kPort + " --baud 19200 --ldn SHOP1"), 0)
      << output_;
  EXPECT_EQ(output_, "Installed Success!\ndevice QZ381\n");

  const size_t mark = RawSize();
  ASSERT_EQ(Setup("health QZ381 --level 2"), 0) << output_;
  EXPECT_EQ(output_, "CheckHealth: Successful\n");
  const std::vector<uint8_t> raw = sim().RawBytes();
  const std::string page(raw.begin() + static_cast<long>(mark), raw.end());
  EXPECT_NE(page.find("QZ381 Thermal Receipt Printer"), std::string::npos) << RawSince(mark);
  EXPECT_NE(page.find("Version 1.9.12"), std::string::npos) << RawSince(mark);

  // At a terminal the interactive level asks; "p" prints the page from the
  // dialog, "e" ends it, and the check is the print's.
  const size_t interactive_mark = RawSize();
  ASSERT_EQ(SetupAtTerminal("health QZ381 --level 3", "p\\ne\\n"), 0) << output_;
  EXPECT_NE(output_.find("Printer Check Health : - Interactive -"), std::string::npos) << output_;
  EXPECT_NE(output_.find("Test in progress...\r\nSuccess (0/0)\r\n"), std::string::npos) << output_;
  EXPECT_NE(output_.find("CheckHealth: Successful"), std::string::npos) << output_;
  const std::vector<uint8_t> after = sim().RawBytes();
  EXPECT_NE(std::string(after.begin() + static_cast<long>(interactive_mark), after.end())
                .find("Version 1.9.12"),
            std::string::npos)
      << RawSince(interactive_mark);

  // Not registered: the control object's answer, and a failing exit code.
  EXPECT_EQ(Setup("health NOSUCH --level 2"), 1);
  EXPECT_NE(output_.find("OPOSPrinter Open Error : "), std::string::npos) << output_;
}

}  // namespace
}  // namespace qz381::e2e
