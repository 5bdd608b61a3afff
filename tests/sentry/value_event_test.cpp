#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "sentry/ids.h"
#include "sentry/sentry.h"
#include "sentry/shell.h"
#include "sentry/value.h"

namespace corvantis::sentry {
namespace {

const std::regex kTimestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
const std::regex kEventId("[0-9a-f]{32}");

TEST(Ids, TimestampIsRfc3339UtcWithMillisecondsAndUuidsAreRandomVersion4) {
  using std::chrono::milliseconds;
  const std::chrono::system_clock::time_point time{milliseconds(1700000000123)};
  EXPECT_EQ(FormatTimestamp(time), "2023-11-14T22:13:20.123Z");
  EXPECT_EQ(FormatTimestamp(std::chrono::system_clock::time_point{milliseconds(5)}),
            "1970-01-01T00:00:00.005Z");
  EXPECT_TRUE(std::regex_match(NowTimestamp(), kTimestamp));

  // Event ids are random version 4 UUIDs that read back.
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const Uuid uuid = NewUuidV4();
    EXPECT_EQ(uuid[6] >> 4, 4);
    EXPECT_EQ(uuid[8] & 0xC0, 0x80);
    const std::string hex = ToHex(uuid);
    EXPECT_TRUE(std::regex_match(hex, kEventId)) << hex;
    EXPECT_EQ(ParseUuid(hex), uuid);
    seen.insert(hex);
  }
  EXPECT_EQ(seen.size(), 50U);

  const auto dashed = ParseUuid("0123ABCD-4567-489a-8bcd-ef0123456789");
  ASSERT_TRUE(dashed);
  EXPECT_EQ(ToHex(*dashed), "0123abcd4567489a8bcdef0123456789");
  for (const char* bad :
       {"", "0123abcd4567489a8bcdef012345678g", "0123abcd+4567-489a-8bcd-ef0123456789"}) {
    EXPECT_FALSE(ParseUuid(bad)) << bad;
  }

  sentry_uuid_t uuid{};
  for (int i = 0; i < 16; ++i) uuid.bytes[i] = static_cast<char>(0xF0 + i);
  char text[37];
  sentry_uuid_as_string(&uuid, text);
  EXPECT_STREQ(text, "f0f1f2f3-f4f5-f6f7-f8f9-fafbfcfdfeff");
  EXPECT_FALSE(sentry_uuid_is_nil(&uuid));
  const sentry_uuid_t nil = sentry_uuid_nil();
  EXPECT_TRUE(sentry_uuid_is_nil(&nil));
}

TEST(Values, ObjectsAndListsTakeOwnershipAndReplaceByKey) {
  const sentry_value_t user = sentry_value_new_object();
  EXPECT_EQ(sentry_value_set_by_key(user, "email", sentry_value_new_string("first@example.com")),
            0);
  EXPECT_EQ(sentry_value_set_by_key(user, "id", sentry_value_new_int32(7)), 0);
  EXPECT_EQ(sentry_value_set_by_key(user, "email", sentry_value_new_string("a@example.com")), 0);

  const sentry_value_t list = sentry_value_new_list();
  EXPECT_EQ(sentry_value_append(list, sentry_value_new_string("x")), 0);
  EXPECT_EQ(sentry_value_append(list, sentry_value_new_null()), 0);
  EXPECT_EQ(sentry_value_set_by_key(user, "list", list), 0);

  EXPECT_EQ(PeekJson(user)->dump(), R"({"email":"a@example.com","id":7,"list":["x",null]})");

  // A value still referenced elsewhere is copied, and stays usable by its other holder.
  const sentry_value_t shared = sentry_value_new_string("kept");
  sentry_value_incref(shared);
  EXPECT_EQ(sentry_value_set_by_key(user, "shared", shared), 0);
  EXPECT_EQ(*PeekJson(shared), "kept");
  sentry_value_decref(shared);

  EXPECT_EQ(sentry_value_set_by_key(user, "self", user), 1);
  EXPECT_EQ(sentry_value_set_by_key(user, nullptr, sentry_value_new_int32(1)), 1);
  EXPECT_EQ(sentry_value_set_by_key(sentry_value_new_null(), "k", sentry_value_new_int32(1)), 1);
  const sentry_value_t text = sentry_value_new_string("not an object");
  EXPECT_EQ(sentry_value_set_by_key(text, "k", sentry_value_new_int32(1)), 1);
  EXPECT_EQ(sentry_value_append(text, sentry_value_new_int32(1)), 1);
  sentry_value_decref(text);

  EXPECT_TRUE(sentry_value_is_null(sentry_value_new_string(nullptr)));
  EXPECT_FALSE(sentry_value_is_null(user));
  sentry_value_decref(user);
}

TEST(Values, MessageEventsAndBreadcrumbsHaveTheirLevelIdTimeAndMessage) {
  const sentry_value_t event =
      sentry_value_new_message_event(SENTRY_LEVEL_INFO, nullptr, "line 1\nline 2");
  const Json json = *PeekJson(event);
  EXPECT_TRUE(std::regex_match(json["event_id"].get<std::string>(), kEventId));
  EXPECT_TRUE(std::regex_match(json["timestamp"].get<std::string>(), kTimestamp));
  EXPECT_EQ(json["message"], Json({{"formatted", "line 1\nline 2"}}));
  EXPECT_FALSE(json.contains("logger"));
  sentry_value_decref(event);

  const sentry_value_t logged = sentry_value_new_message_event(SENTRY_LEVEL_INFO, "bench", "");
  EXPECT_EQ((*PeekJson(logged))["logger"], "bench");
  EXPECT_EQ((*PeekJson(logged))["message"]["formatted"], "");
  sentry_value_decref(logged);

  for (const auto& [level, name] :
       {std::pair{SENTRY_LEVEL_DEBUG, "debug"}, std::pair{SENTRY_LEVEL_INFO, "info"},
        std::pair{SENTRY_LEVEL_WARNING, "warning"}, std::pair{SENTRY_LEVEL_ERROR, "error"},
        std::pair{SENTRY_LEVEL_FATAL, "fatal"}}) {
    const sentry_value_t leveled = sentry_value_new_message_event(level, nullptr, "x");
    EXPECT_EQ((*PeekJson(leveled))["level"], name);
    sentry_value_decref(leveled);
  }

  const sentry_value_t crumb = sentry_value_new_breadcrumb("default", "amf");
  const Json crumbJson = *PeekJson(crumb);
  EXPECT_EQ(crumbJson["type"], "default");
  EXPECT_EQ(crumbJson["message"], "amf");
  EXPECT_TRUE(std::regex_match(crumbJson["timestamp"].get<std::string>(), kTimestamp));
  sentry_value_decref(crumb);
}

}  // namespace
}  // namespace corvantis::sentry
