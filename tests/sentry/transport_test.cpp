#include "sentry/transport.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "sentry/dsn.h"
#include "sentry/envelope.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/fakes.h"

namespace corvantis::sentry {
namespace {

using std::chrono::milliseconds;
using testing::FakeHttpSender;

std::string Event(const char* id, const char* json) {
  return Envelope::ForEvent(id, "", "", json).Serialize();
}

TEST(Transport, ShutdownSendsWhatIsQueuedWithTimeLimitsCutToTheBudget) {
  auto sender = std::make_shared<FakeHttpSender>();
  Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), nullptr, {.maxQueued = 100000});
  sender->Hold();
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000001", R"({"n":1})")));
  ASSERT_TRUE(sender->WaitForRequests(1));
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000002", R"({"n":2})")));
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000003", R"({"n":3})")));

  auto shutdown =
      std::async(std::launch::async, [&] { return transport.Shutdown(milliseconds(3000)); });
  // Refused enqueues show that the shutdown clock runs; accepted ones are sent like the rest.
  size_t accepted = 3;
  while (transport.Enqueue(Event("00000000000000000000000000000004", R"({"n":4})"))) {
    ++accepted;
    std::this_thread::sleep_for(milliseconds(1));
  }
  sender->Release();
  EXPECT_EQ(shutdown.get(), 0U);

  const auto sent = sender->Sent();
  ASSERT_EQ(sent.size(), accepted);
  EXPECT_EQ(sent[0].totalTimeoutMs, 10000);
  EXPECT_EQ(testing::ReadEnvelope(sent[2].body).event["n"], 3);
  for (size_t i = 1; i < sent.size(); ++i) {
    EXPECT_GT(sent[i].totalTimeoutMs, 0);
    EXPECT_LE(sent[i].totalTimeoutMs, 3000);
    EXPECT_LE(sent[i].connectTimeoutMs, sent[i].totalTimeoutMs);
  }
  EXPECT_FALSE(transport.Enqueue(Event("00000000000000000000000000000005", "{}")));
  EXPECT_EQ(transport.Shutdown(milliseconds(3000)), 0U);
}

TEST(Transport, DestroyingWithoutShutdownDropsAHangingSend) {
  auto sender = std::make_shared<FakeHttpSender>();
  sender->Hold();
  {
    Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), nullptr);
    ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000001", "{}")));
    ASSERT_TRUE(sender->WaitForRequests(1));
  }
  EXPECT_EQ(sender->Sent().size(), 1U);
}

}  // namespace
}  // namespace corvantis::sentry
