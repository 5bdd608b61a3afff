// The program's tracing switches against the real runtime: what EnableAmfDebugTracing sets is
// what the runtime then does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "amf/factory_helper.h"
#include "platform/utf.h"
#include "tests/fakes/trace_recorder.h"

namespace corvantis {

namespace {

TEST(LoaderTracing, EnableAmfDebugTracingSwitchesTheRuntimesTraceAndAsserts) {
  AMFFactoryHelper loader(Utf8ToWide(AMFRT_LIBRARY_PATH));
  ASSERT_EQ(loader.LoadRuntime(), AMF_OK);
  amf::AMFTrace* trace = nullptr;
  amf::AMFDebug* debug = nullptr;
  ASSERT_EQ(loader.RuntimeFactory()->GetTrace(&trace), AMF_OK);
  ASSERT_EQ(loader.RuntimeFactory()->GetDebug(&debug), AMF_OK);
  // Quieter than asked for, so that each switch is seen to act.
  trace->SetGlobalLevel(amf::AMF_TRACE_ERROR);
  trace->EnableWriter(L"DebugOutput", false);
  trace->SetWriterLevel(L"DebugOutput", amf::AMF_TRACE_ERROR);
  debug->AssertsEnable(false);

  loader.EnableAmfDebugTracing();
  EXPECT_EQ(trace->GetGlobalLevel(), amf::AMF_TRACE_TRACE);
  EXPECT_TRUE(trace->WriterEnabled(L"DebugOutput"));
  EXPECT_EQ(trace->GetWriterLevel(L"DebugOutput"), amf::AMF_TRACE_TRACE);
  EXPECT_TRUE(debug->AssertsEnabled());

  // Lines at trace level now pass the global level, finer ones still do not.
  fakes::TraceRecorder writer(trace, L"Recording");
  trace->SetWriterLevel(L"Recording", amf::AMF_TRACE_TEST);
  trace->TraceW(L"tracing_test.cpp", 1, amf::AMF_TRACE_TRACE, L"Test", 0, L"trace level");
  trace->TraceW(L"tracing_test.cpp", 2, amf::AMF_TRACE_TEST, L"Test", 0, L"test level");
  const std::vector<std::wstring> lines = writer.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(L"trace level"), std::wstring::npos);
}

}  // namespace

}  // namespace corvantis
