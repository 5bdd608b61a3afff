#include <gtest/gtest.h>

#include "tests/amfrt/runtime_support.h"

namespace {

TEST(RuntimeExports, QueryVersionGivesTheRuntimeVersion) {
  amf::amf_uint64 version = 0;
  ASSERT_EQ(Runtime().queryVersion(&version), AMF_OK);
  EXPECT_EQ(version, amf::AMF_MAKE_FULL_VERSION(1, 4, 18, 0));
  EXPECT_EQ(Runtime().queryVersion(nullptr), AMF_INVALID_ARG);
}

TEST(RuntimeExports, InitAcceptsOlderAndEqualOneDotXVersions) {
  for (amf::amf_uint64 version : {amf::AMF_FULL_VERSION, amf::AMF_MAKE_FULL_VERSION(1, 4, 18, 0),
                                  amf::AMF_MAKE_FULL_VERSION(1, 0, 0, 0)}) {
    amf::AMFFactory* factory = nullptr;
    EXPECT_EQ(Runtime().init(version, &factory), AMF_OK);
    EXPECT_EQ(factory, Runtime().factory) << "one process-wide factory";
  }
}

TEST(RuntimeExports, InitRefusesNewerAndOtherMajorVersions) {
  for (amf::amf_uint64 version : {amf::AMF_MAKE_FULL_VERSION(1, 4, 18, 1), amf::AMF_MAKE_FULL_VERSION(1, 5, 0, 0),
                                  amf::AMF_MAKE_FULL_VERSION(2, 0, 0, 0), amf::AMF_MAKE_FULL_VERSION(0, 9, 0, 0)}) {
    amf::AMFFactory* factory = Runtime().factory;
    EXPECT_EQ(Runtime().init(version, &factory), AMF_NOT_SUPPORTED) << std::hex << version;
    EXPECT_EQ(factory, nullptr);
  }
  EXPECT_EQ(Runtime().init(amf::AMF_FULL_VERSION, nullptr), AMF_INVALID_ARG);
}

}  // namespace
