#include "sentry/transport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
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

TEST(Transport, AHugeOrDeeplyNestedPendingFileIsSetAsideUnreadAndTheRunsResultsStillGoOut) {
  const TempDir dir;
  auto database = std::make_shared<Database>(dir.path());
  const auto pending = dir.path() / "pending";
  // Planted with the user's own rights: 1 GiB (sparse), and a header nested 50,000 deep.
  std::ofstream(pending / "00000000000000000001-huge.envelope").close();
  std::filesystem::resize_file(pending / "00000000000000000001-huge.envelope", 1ULL << 30);
  std::ofstream(pending / "00000000000000000002-nested.envelope")
      << "{\"a\":" << std::string(50000, '[') << std::string(50000, ']') << "}\n"
      << "{\"type\":\"event\",\"length\":2}\n{}\n";
  std::ofstream(pending / "00000000000000000003-earlier.envelope")
      << Event("00000000000000000000000000000003", "{}");
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);

  auto sender = std::make_shared<FakeHttpSender>();
  Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), database);
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000004", R"({"n":4})")));
  EXPECT_EQ(transport.Shutdown(milliseconds(2000)), 0U);
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);

  // Peak resident KiB: reading the huge file would have taken a gigabyte.
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 128 << 10);
  const auto sent = sender->Sent();
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_EQ(testing::ReadEnvelope(sent[0].Body).Header["event_id"],
            "00000000000000000000000000000003");
  EXPECT_EQ(testing::ReadEnvelope(sent[1].Body).Event["n"], 4);
  EXPECT_TRUE(database->ListPending().empty());
  // Each waits aside under its reason, but the huge one can never fit the folder's bound.
  EXPECT_EQ(FileNames(dir.path() / "aside"),
            std::vector<std::string>{"00000000000000000002-nested.envelope.corrupt"});
}

// Three runs on one folder, the clock moved by the test: a limit the service sets keeps
// everything on disk, also a crash report, until it ends, even across a start; then what waited
// goes out oldest first.
TEST(Transport, RateLimitedEnvelopesWaitOnDiskAcrossRunsAndGoOutOldestFirstWhenTheLimitEnds) {
  const auto start = std::chrono::system_clock::now();
  const time_t inAnHour = std::chrono::system_clock::to_time_t(start) + 3600;
  char date[64];
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&inAnHour));
  const std::pair<long, FakeHttpSender::Headers> answers[] = {
      {429, {{"Retry-After", "3600"}}},
      {429, {{"Retry-After", date}}},
      {200, {{"X-Sentry-Rate-Limits", "3600:error;default:organization"}}}};
  const Dsn dsn = *ParseDsn("http://key@127.0.0.1:9/1");
  for (const auto& answer : answers) {
    const long status = answer.first;
    const FakeHttpSender::Headers& headers = answer.second;
    SCOPED_TRACE(headers[0].second);
    const TempDir dir;
    std::atomic<int> minutes{0};
    const auto clock = [&] { return start + std::chrono::minutes(minutes.load()); };
    const auto event = [](int n) {
      return Event("00000000000000000000000000000001",
                   ("{\"n\":" + std::to_string(n) + "}").c_str());
    };
    {
      const Database earlier(dir.path());
      earlier.Store(event(1));
      earlier.Store(event(2));
    }
    const auto run = [&](int n, bool limiting, auto&& during) {
      auto sender = std::make_shared<FakeHttpSender>();
      if (limiting) sender->AnswerWith(status, headers);
      Transport transport(sender, dsn, std::make_shared<Database>(dir.path()), {}, clock);
      EXPECT_TRUE(transport.Enqueue(event(n)));
      during(*sender);
      EXPECT_EQ(transport.Shutdown(milliseconds(2000)), 0U);
      return sender->Sent();
    };
    const size_t accepted = status == 200 ? 1 : 0;
    const auto pendingCount = [&] { return Database(dir.path()).ListPending().size(); };
    EXPECT_EQ(run(3, true, [](FakeHttpSender&) {}).size(), 1U);
    minutes = 10;
    EXPECT_TRUE(run(4, false, [](FakeHttpSender&) {}).empty());
    {
      // The crash handler's way: stored first, then sent under the limits the folder holds.
      const Database handler(dir.path());
      std::optional<ClaimedEnvelope> crash = handler.Store(event(5));
      FakeHttpSender sender;
      EXPECT_EQ(SendClaimed(handler, *crash, sender, dsn, 100, 200, nullptr), Delivery::kLimited);
      EXPECT_TRUE(sender.Sent().empty());
    }
    EXPECT_EQ(pendingCount(), 5 - accepted);

    minutes = 50;
    const auto sent = run(6, false, [&](FakeHttpSender& sender) {
      for (int i = 0; i < 1000 && pendingCount() < 6 - accepted; ++i) {
        std::this_thread::sleep_for(milliseconds(10));
      }
      EXPECT_TRUE(sender.Sent().empty());
      minutes = 61;
      EXPECT_TRUE(sender.WaitForRequests(6 - accepted));
    });
    ASSERT_EQ(sent.size(), 6 - accepted);
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(testing::ReadEnvelope(sent[i].Body).Event["n"], i + 1 + accepted);
    }
    EXPECT_EQ(pendingCount(), 0U);
  }
}

TEST(Transport, ALimitOnAttachmentsHoldsOnlyTheCrashReportsWhole) {
  const TempDir dir;
  auto database = std::make_shared<Database>(dir.path());
  auto sender = std::make_shared<FakeHttpSender>();
  const auto crash = [](const char* id) {
    Envelope envelope = Envelope::ForEvent(id, "", "", R"({"level":"fatal"})");
    envelope.AddAttachment("crash.dmp", "event.minidump", "MDMP");
    return envelope.Serialize();
  };
  sender->AnswerWith(200, {{"x-sentry-rate-limits", "3600:attachment;session:organization"}});
  Transport transport(sender, *ParseDsn("http://key@127.0.0.1:9/1"), database);
  ASSERT_TRUE(transport.Enqueue(crash("00000000000000000000000000000001")));
  ASSERT_TRUE(sender->WaitForRequests(1));
  ASSERT_TRUE(transport.Enqueue(crash("00000000000000000000000000000002")));
  ASSERT_TRUE(transport.Enqueue(Event("00000000000000000000000000000003", "{}")));
  EXPECT_EQ(transport.Shutdown(milliseconds(2000)), 0U);

  const auto sent = sender->Sent();
  ASSERT_EQ(sent.size(), 2U);
  EXPECT_NE(testing::ReadEnvelope(sent[0].Body).Item("attachment"), nullptr);
  EXPECT_EQ(testing::ReadEnvelope(sent[1].Body).Header["event_id"],
            "00000000000000000000000000000003");
  // Never sent without its dump, and never dropped.
  const auto pending = database->ListPending();
  ASSERT_EQ(pending.size(), 1U);
  EXPECT_EQ(database->Claim(pending[0])->Read(), crash("00000000000000000000000000000002"));
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
