// The answer's X-Sentry-Rate-Limits and Retry-After fields of any text, with any status and any
// time now: every limit read stays within its bounds and names a category that can be stored.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "sentry/rate_limits.h"

using namespace corvantis;
using namespace corvantis::sentry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  http::HttpResponse response;
  response.Status = input.ConsumeBool() ? 429 : input.ConsumeIntegralInRange<long>(100, 599);
  // Seconds since 1970, 136 years either way, as a clock set wrong may say.
  const auto now = std::chrono::system_clock::time_point(
      std::chrono::seconds(input.ConsumeIntegralInRange<std::int64_t>(-(1LL << 32), 1LL << 32)));
  const int fields = input.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < fields; ++i) {
    const char* name = input.ConsumeBool() ? "X-Sentry-Rate-Limits" : "Retry-After";
    response.Headers.emplace_back(name, input.ConsumeRandomLengthString(512));
  }
  const std::vector<RateLimit> limits = ReadRateLimits(response, now);
  FUZZ_CHECK(limits.size() <= 32);
  for (const RateLimit& limit : limits) {
    FUZZ_CHECK(limit.Delay.count() >= 0 && limit.Delay <= kLongestRateLimit);
    FUZZ_CHECK(limit.Category.size() <= 64);
    for (const char c : limit.Category) FUZZ_CHECK(c > ' ' && c < 0x7f && c != '*');
  }
  // A 429 always stops something, so that nothing is sent again at once.
  FUZZ_CHECK(response.Status != 429 || !limits.empty());
  return 0;
}
