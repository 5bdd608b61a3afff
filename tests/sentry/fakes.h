#pragma once

#include "sentry/os_info.h"

namespace corvantis::sentry::testing {

class FakeOsInfoSource final : public OsInfoSource {
 public:
  OsInfo Read() override { return {"Linux", "6.1.0", "#1 SMP Test", "6.1.0-test"}; }
};

}  // namespace corvantis::sentry::testing
