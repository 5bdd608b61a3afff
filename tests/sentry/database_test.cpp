#include "sentry/database.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "sentry/delivery.h"
#include "sentry/envelope.h"
#include "tests/fakes/fake_http_sender.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/temp_dir.h"

namespace corvantis::sentry {
namespace {

using fakes::FakeHttpSender;
using testing::FileNames;
using testing::TempDir;
namespace fs = std::filesystem;

std::string EventEnvelope(int n) {
  return Envelope::ForEvent("0123456789abcdef0123456789abcdef", "", "",
                            R"({"n":)" + std::to_string(n) + "}")
      .Serialize();
}

TEST(Envelope, ItemsRoundTripWithBinaryAttachment) {
  Envelope envelope = Envelope::ForEvent("0123456789abcdef0123456789abcdef", "http://k@h/1",
                                         "2024-01-01T00:00:00.000Z", R"({"level":"fatal"})");
  const std::string dump("MDMP\n\0\n\xFF tail", 13);
  envelope.AddAttachment("crash.dmp", "event.minidump", dump);
  const std::string text = envelope.Serialize();

  const auto read = testing::ReadEnvelope(text);
  ASSERT_EQ(read.Items.size(), 2U);
  EXPECT_EQ(read.Event["level"], "fatal");
  const auto* attachment = read.Item("attachment");
  ASSERT_NE(attachment, nullptr);
  EXPECT_EQ(attachment->Payload, dump);
  EXPECT_EQ(attachment->Header["attachment_type"], "event.minidump");
  EXPECT_EQ(attachment->Header["filename"], "crash.dmp");

  const auto parsed = ParseEnvelope(text);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->Serialize(), text);
  const auto resent = testing::ReadEnvelope(WithSentAt(text, "2030-02-02T00:00:00.000Z"));
  EXPECT_EQ(resent.Header["sent_at"], "2030-02-02T00:00:00.000Z");
  EXPECT_EQ(resent.Item("attachment")->Payload, dump);

  // What a half-written or foreign file looks like.
  for (const std::string& bad :
       {std::string(), std::string("{}\n"), text.substr(0, text.size() - 5),
        std::string("{}\n{\"type\":\"event\",\"length\":99}\n{}\n"), std::string("not json\n{}\n"),
        std::string("{}\n[1]\n"), std::string("{}\n{\"type\":\"event\",\"length\":-1}\n{}\n")}) {
    EXPECT_FALSE(ParseEnvelope(bad)) << bad;
  }

  // Nesting that a recursive copy or print would overflow on is refused as it is read.
  const auto nested = [](size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  EXPECT_FALSE(ParseEnvelope("{\"a\":" + nested(50000) + "}\n{\"type\":\"event\"}\n{}\n"));
  EXPECT_FALSE(ParseJson(nested(kMaxJsonDepth + 1)));
  EXPECT_EQ(ParseJson(nested(kMaxJsonDepth)), Json::parse(nested(kMaxJsonDepth)));
  EXPECT_FALSE(ParseJson("{} trailing"));
}

TEST(Database, StoredFilesArePendingOldestFirstAndClaimedByOneHolderAtATime) {
  const TempDir dir;
  const Database database(dir.path() / "db");
  std::optional<ClaimedEnvelope> first = database.Store(EventEnvelope(1));
  ASSERT_TRUE(first);
  ASSERT_TRUE(database.Store(EventEnvelope(2)));
  const auto pending = database.ListPending();
  ASSERT_EQ(pending.size(), 2U);
  EXPECT_EQ(pending[0], first->Path());
  EXPECT_EQ(FileNames(dir.path() / "db" / "pending").size(), 2U);  // no temporary left behind

  // The writer still holds the first: nobody else may send it.
  EXPECT_FALSE(database.Claim(pending[0]));
  EXPECT_EQ(first->Read(), EventEnvelope(1));
  first.reset();
  std::optional<ClaimedEnvelope> claimed = database.Claim(pending[0]);
  ASSERT_TRUE(claimed);
  EXPECT_EQ(claimed->Read(), EventEnvelope(1));
  claimed->Remove();
  claimed.reset();
  // One that was deleted after another opened it is not claimed again.
  EXPECT_FALSE(database.Claim(pending[0]));
  EXPECT_EQ(database.ListPending().size(), 1U);
}

TEST(Database, WorksThroughAFolderHandedOverOpenAndRefusesAnotherUsersKind) {
  const TempDir dir;
  const Database made(dir.path() / "db");
  // Renamed away after opening: the open folder is still the one used.
  Database handed(unique_fd(::dup(made.RootFd())), "handed");
  fs::rename(dir.path() / "db", dir.path() / "moved");
  ASSERT_TRUE(handed.Store(EventEnvelope(1)));
  EXPECT_EQ(FileNames(dir.path() / "moved" / "pending").size(), 1U);
  EXPECT_EQ(handed.ListPending().front().parent_path(), fs::path("handed") / "pending");

  fs::permissions(dir.path() / "moved", fs::perms::group_write, fs::perm_options::add);
  EXPECT_THROW(Database(unique_fd(::dup(made.RootFd())), "shared"), std::runtime_error);
  EXPECT_THROW(Database(unique_fd(), "closed"), std::runtime_error);
}

TEST(Database, BoundsDropTheOldestPendingEnvelopes) {
  const TempDir dir;
  const Database byCount(dir.path() / "count", {.MaxPendingFiles = 3});
  for (int i = 0; i < 6; ++i) byCount.Store(EventEnvelope(i));
  auto pending = byCount.ListPending();
  ASSERT_EQ(pending.size(), 3U);
  EXPECT_EQ(byCount.Claim(pending[0])->Read(), EventEnvelope(3));

  const size_t size = EventEnvelope(0).size();
  const Database bySize(dir.path() / "size", {.MaxPendingBytes = 2 * size + size / 2});
  for (int i = 0; i < 5; ++i) bySize.Store(EventEnvelope(i));
  pending = bySize.ListPending();
  ASSERT_EQ(pending.size(), 2U);
  EXPECT_EQ(bySize.Claim(pending[1])->Read(), EventEnvelope(4));
}

TEST(Database, TrimsWhatCannotFitFirstThenEarlierRunsOldestFirstAndThisRunsLast) {
  const TempDir dir;
  const size_t size = EventEnvelope(0).size();
  const DatabaseLimits limits{.MaxPendingBytes = 4 * size, .MaxPendingFiles = 3};
  const fs::path pending = dir.path() / "pending";
  { ASSERT_TRUE(Database(dir.path(), limits).Store(EventEnvelope(1))); }
  // From a run whose clock was ahead, and one no run of ours can have written.
  std::ofstream(pending / "99999999999999999999-ahead.envelope") << EventEnvelope(2);
  std::ofstream(pending / "00000000000000000000-huge.envelope").close();
  fs::resize_file(pending / "00000000000000000000-huge.envelope", 1ULL << 30);

  const Database database(dir.path(), limits);
  std::vector<std::string> kept;
  for (int n = 3; n <= 6; ++n) {
    ASSERT_TRUE(database.Store(EventEnvelope(n)));
    std::string contents;
    for (const auto& path : database.ListPending()) contents += *database.Claim(path)->Read();
    kept.push_back(contents);
  }
  EXPECT_EQ(kept[0], EventEnvelope(1) + EventEnvelope(3) + EventEnvelope(2));
  EXPECT_EQ(kept[1], EventEnvelope(3) + EventEnvelope(4) + EventEnvelope(2));
  EXPECT_EQ(kept[2], EventEnvelope(3) + EventEnvelope(4) + EventEnvelope(5));
  EXPECT_EQ(kept[3], EventEnvelope(4) + EventEnvelope(5) + EventEnvelope(6));
}

TEST(Database, NothingPendingIsLostToAnEnvelopeTooLargeOrTrimmedWhileLocked) {
  const TempDir dir;
  const size_t size = EventEnvelope(0).size();
  const DatabaseLimits limits{.MaxPendingBytes = 3 * size, .MaxPendingFiles = 3};
  const fs::path pendingFolder = dir.path() / "db" / "pending";
  { const Database made(dir.path() / "db", limits); }
  // Left by a store interrupted long ago, and one another process is writing now.
  std::ofstream(pendingFolder / "interrupted.envelope.0123456789abcdef.tmp") << EventEnvelope(0);
  fs::last_write_time(pendingFolder / "interrupted.envelope.0123456789abcdef.tmp",
                      fs::file_time_type::clock::now() - std::chrono::minutes(10));
  std::ofstream(pendingFolder / "in-progress.envelope.fedcba9876543210.tmp") << EventEnvelope(0);

  const Database database(dir.path() / "db", limits);
  std::optional<ClaimedEnvelope> held = database.Store(EventEnvelope(1));
  ASSERT_TRUE(held);
  ASSERT_TRUE(database.Store(EventEnvelope(2)));
  // Beyond both bounds, counting the store in progress: the oldest is held, so the next goes.
  ASSERT_TRUE(database.Store(EventEnvelope(3)));
  auto pending = database.ListPending();
  ASSERT_EQ(pending.size(), 2U);
  EXPECT_EQ(pending[0], held->Path());
  EXPECT_EQ(database.Claim(pending[1])->Read(), EventEnvelope(3));

  EXPECT_FALSE(database.Store(std::string(3 * size + 1, 'x')));
  EXPECT_EQ(database.ListPending(), pending);
  EXPECT_EQ(FileNames(pendingFolder).size(), 3U);  // the two and the store in progress
  EXPECT_FALSE(fs::exists(pendingFolder / "interrupted.envelope.0123456789abcdef.tmp"));
}

TEST(Database, SendingSettlesEachFileByTheAnswer) {
  const TempDir dir;
  const Database database(dir.path());
  const Dsn dsn = *ParseDsn("http://key@127.0.0.1:9/1");
  FakeHttpSender sender;
  const auto send = [&](long status, bool fail = false) {
    std::optional<ClaimedEnvelope> claimed =
        database.Store(EventEnvelope(static_cast<int>(status)));
    sender.AnswerWith(status);
    if (fail) sender.FailNext(1);
    return SendClaimed(database, *claimed, sender, dsn, 100, 200, nullptr);
  };
  EXPECT_EQ(send(202), Delivery::kAccepted);
  EXPECT_TRUE(database.ListPending().empty());
  // Only a send that got no answer is tried again; any answer ends it.
  EXPECT_EQ(send(200, true), Delivery::kFailed);
  EXPECT_EQ(database.ListPending().size(), 1U);
  for (const long status : {301, 400, 408, 500, 503}) {
    EXPECT_EQ(send(status), Delivery::kRefused) << status;
  }
  EXPECT_EQ(FileNames(dir.path() / "aside").size(), 5U);
  // Limited: kept, and the limit with it.
  EXPECT_EQ(send(429), Delivery::kLimited);
  EXPECT_EQ(database.ListPending().size(), 2U);
  EXPECT_EQ(FileNames(dir.path() / "aside").size(), 5U);

  // A corrupt file goes aside unsent.
  const auto corrupt = dir.path() / "pending" / "00000000000000000000-corrupt.envelope";
  std::ofstream(corrupt) << "{\"event_id\":\n";
  const size_t sentBefore = sender.Sent().size();
  std::optional<ClaimedEnvelope> claimed = database.Claim(corrupt);
  ASSERT_TRUE(claimed);
  EXPECT_EQ(SendClaimed(database, *claimed, sender, dsn, 100, 200, nullptr), Delivery::kRefused);
  EXPECT_EQ(sender.Sent().size(), sentBefore);
  EXPECT_EQ(FileNames(dir.path() / "aside").front(),
            "00000000000000000000-corrupt.envelope.corrupt");
  EXPECT_EQ(database.ListPending().size(), 2U);
}

}  // namespace
}  // namespace corvantis::sentry
