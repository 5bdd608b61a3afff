#include <dlfcn.h>
#include <gtest/gtest.h>

#include "amf/factory_helper.h"

namespace corvantis {

namespace {

std::wstring RuntimePath(const char* variant) {
  const std::string path = std::string(TEST_RUNTIME_DIR) + "/libtest_runtime_" + variant + ".so";
  return std::wstring(path.begin(), path.end());
}

// Whether the process has the runtime library of `variant` mapped.
bool Mapped(const char* variant) {
  void* lib =
      dlopen((std::string(TEST_RUNTIME_DIR) + "/libtest_runtime_" + variant + ".so").c_str(),
             RTLD_NOW | RTLD_NOLOAD);
  if (lib != nullptr) dlclose(lib);
  return lib != nullptr;
}

TEST(AMFFactoryHelper, LoadsOnceAndCountsLaterCalls) {
  AMFFactoryHelper helper(RuntimePath("ok"));
  EXPECT_EQ(helper.LoadRuntime(), AMF_OK);
  EXPECT_NE(helper.RuntimeFactory(), nullptr);
  EXPECT_EQ(helper.RuntimeVersion(), 0x0001000400100000u);
  EXPECT_EQ(FormatAmfVersion(helper.RuntimeVersion()), "1.4.16.0");
  EXPECT_EQ(helper.LoadRuntime(), AMF_OK);
  helper.ReleaseRuntime();
  EXPECT_NE(helper.RuntimeFactory(), nullptr) << "one reference left";
  EXPECT_TRUE(Mapped("ok"));
  helper.ReleaseRuntime();
  EXPECT_EQ(helper.RuntimeFactory(), nullptr);
  EXPECT_FALSE(Mapped("ok"));
  EXPECT_EQ(FormatAmfVersion(amf::AMF_MAKE_FULL_VERSION(65535, 0, 1, 65535)), "65535.0.1.65535");
}

// A missing library is tried again each time; a missing entry point fails.
TEST(AMFFactoryHelper, MissingLibraryOrEntryPoints) {
  AMFFactoryHelper helper(L"/nonexistent/libamfrt64.so");
  EXPECT_EQ(helper.LoadRuntime(), AMF_FAIL);
  EXPECT_EQ(helper.LoadRuntime(), AMF_FAIL);
  EXPECT_EQ(helper.RuntimeFactory(), nullptr);
  AMFFactoryHelper noInit(RuntimePath("no_init"));
  EXPECT_EQ(noInit.LoadRuntime(), AMF_FAIL);
  AMFFactoryHelper noQuery(RuntimePath("no_query"));
  EXPECT_EQ(noQuery.LoadRuntime(), AMF_FAIL);
}

TEST(AMFFactoryHelper, AFailedStartNeverHandsOutANullFactory) {
  AMFFactoryHelper failing(RuntimePath("init_fails"));
  EXPECT_EQ(failing.LoadRuntime(), AMF_NO_DEVICE);
  // The library stays mapped, but a later call must not report success without a factory.
  EXPECT_EQ(failing.LoadRuntime(), AMF_NO_DEVICE);
  EXPECT_EQ(failing.RuntimeFactory(), nullptr);
  void* lib = dlopen(std::string(TEST_RUNTIME_DIR "/libtest_runtime_init_fails.so").c_str(),
                     RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  auto calls = reinterpret_cast<int (*)()>(dlsym(lib, "TestRuntimeInitCalls"));
  EXPECT_EQ(calls(), 2);
  dlclose(lib);
}

}  // namespace

}  // namespace corvantis
