// A module for the dynamic-library tests: exports one function and says where it
// lives, so ModulePathOf can be checked from inside a loaded module.
#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

TEST_EXPORT int Qz381TestAnswer() {
  return 42;
}

TEST_EXPORT const void* Qz381TestAddress() {
  return reinterpret_cast<const void*>(&Qz381TestAnswer);
}
