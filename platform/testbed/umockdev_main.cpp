// main() of the tests that need umockdev's testbed: the program runs itself
// again under the wrapper, so that ctest and a developer run it the same way.
// Sanitizer builds do not: the preload library takes over open() and friends
// before the sanitizer's runtime is set up, so there the testbed cases skip
// and the rest (the in-memory tree) runs.
#include <gtest/gtest.h>

#include "platform/testbed/usb_testbed.h"

int main(int argc, char** argv) {
#if !defined(QZ381_SANITIZED)
  qz381::platform::testbed::RunUnderUmockdev(argc, argv);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
