// main() of the tests that need umockdev's testbed: the program runs itself
// again under the wrapper, so that ctest and a developer run it the same way.
#include <gtest/gtest.h>

#include "platform/testbed/usb_testbed.h"

int main(int argc, char** argv) {
  qz381::platform::testbed::RunUnderUmockdev(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
