#include "sentry/transport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "sentry/dsn.h"
#include "sentry/envelope.h"
#include "tests/fakes/fake_http_sender.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/temp_dir.h"

namespace corvantis::sentry {
namespace {

using fakes::FakeHttpSender;
using std::chrono::milliseconds;
using testing::FileNames;
using testing::TempDir;

std::string Event(const char* id, const char* json) {
  return Envelope::ForEvent(id, "", "", json).Serialize();
}

TEST(Transport, ShutdownSendsWhatIsQueuedWithTimeLimitsCutToTheBudget) {
  auto sender = std::make_shared<FakeHttpSender>();
  Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), nullptr,
                      {.MaxQueued = 100000});
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
  EXPECT_EQ(sent[0].TotalTimeoutMs, 10000);
  EXPECT_EQ(testing::ReadEnvelope(sent[2].Body).Event["n"], 3);
  for (size_t i = 1; i < sent.size(); ++i) {
    EXPECT_GT(sent[i].TotalTimeoutMs, 0);
    EXPECT_LE(sent[i].TotalTimeoutMs, 3000);
    EXPECT_LE(sent[i].ConnectTimeoutMs, sent[i].TotalTimeoutMs);
  }
  EXPECT_FALSE(transport.Enqueue(Event("00000000000000000000000000000005", "{}")));
  EXPECT_EQ(transport.Shutdown(milliseconds(3000)), 0U);
}

TEST(Transport, ShutdownReturnsWithinItsBoundPastAFifoAFolderAndAStuckSenderKeepingTheQueue) {
  const TempDir dir;
  const auto pending = dir.path() / "pending";
  auto database = std::make_shared<Database>(dir.path());
  // Oldest first: a FIFO and a folder named like envelopes come before a real one.
  const auto fifo = pending / "00000000000000000001-fifo.envelope";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(pending / "00000000000000000002-folder.envelope");
  std::ofstream(pending / "00000000000000000003-real.envelope")
      << Event("00000000000000000000000000000003", "{}");

  auto sender = std::make_shared<FakeHttpSender>();
  sender->Hold(/*stubborn=*/true);
  Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), database);
  EXPECT_TRUE(sender->WaitForRequests(1, std::chrono::seconds(5)));
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000004", "{}")));
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000005", "{}")));

  auto shutdown =
      std::async(std::launch::async, [&] { return transport.Shutdown(milliseconds(500)); });
  if (shutdown.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "shutdown did not return";
    // Lets a worker stuck opening the FIFO, or in the sender, go on, so the test can end.
    static_cast<void>(::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)));
    sender->Release();
  }
  // The pending file stays (the stuck send never settled it), the queued ones are stored.
  EXPECT_EQ(shutdown.get(), 0U);
  EXPECT_EQ(FileNames(pending).size(), 3U);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  sender->Release();
}

TEST(Transport, RateLimitsOnAnyAnswerStopTheirCategoriesAndWhatTheyStopIsNotKept) {
  const TempDir dir;
  auto database = std::make_shared<Database>(dir.path());
  auto sender = std::make_shared<FakeHttpSender>();
  const auto crash = [](const char* id) {
    Envelope envelope = Envelope::ForEvent(id, "", "", R"({"level":"fatal"})");
    envelope.AddAttachment("crash.dmp", "event.minidump", "MDMP");
    return envelope.Serialize();
  };
  sender->AnswerWith(200, {{"X-Sentry-Rate-Limits",
                            "3600:transaction:key, 3600:attachment;session:organization"}});
  Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), database);
  ASSERT_TRUE(transport.Enqueue(crash("00000000000000000000000000000001")));
  ASSERT_TRUE(sender->WaitForRequests(1));
  sender->Hold();
  ASSERT_TRUE(transport.Enqueue(crash("00000000000000000000000000000002")));
  ASSERT_TRUE(sender->WaitForRequests(2));
  sender->AnswerWith(200, {{"x-sentry-rate-limits", "60:default;error;security:organization"}});
  sender->Release();
  transport.Enqueue(Event("00000000000000000000000000000003", "{}"));
  EXPECT_EQ(transport.Shutdown(milliseconds(2000)), 0U);

  const auto sent = sender->Sent();
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_NE(testing::ReadEnvelope(sent[0].Body).Item("attachment"), nullptr);
  // Limited attachments are left out; limited events are not sent at all, nor kept.
  const auto second = testing::ReadEnvelope(sent[1].Body);
  EXPECT_EQ(second.Items.size(), 1U);
  EXPECT_EQ(second.Event["level"], "fatal");
  EXPECT_TRUE(database->ListPending().empty());
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
