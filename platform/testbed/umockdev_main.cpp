// main() of the tests that need umockdev's testbed: the program runs itself
// again under the wrapper, so that ctest and a developer run it the same way.
#include <gtest/gtest.h>

#include "platform/testbed/usb_testbed.h"

#if defined(QZ381_SANITIZED)
// Sanitized builds run under the wrapper too. AddressSanitizer wants its
// runtime first among the preloaded libraries, where the testbed's preload
// library must be; the preload library only forwards open() and friends, so the
// order check is turned off here, where nothing else can be first.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}
// ThreadSanitizer sees the testbed's worker thread and GLib inside it through
// libraries that were not built with it, and the descriptors the preload
// library swaps under libudev: what it reports from there is not ours.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libumockdev.so\n"
         "called_from_lib:libumockdev-preload.so\n"
         "called_from_lib:libglib-2.0.so\n"
         "called_from_lib:libgio-2.0.so\n"
         "called_from_lib:libgobject-2.0.so\n"
         "called_from_lib:libudev.so\n";
}
#endif

int main(int argc, char** argv) {
  qz381::platform::testbed::RunUnderUmockdev(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
