// Local time against UTC, from the C library's zone rules.
#pragma once

#include <cstdint>

// Local time minus UTC, in seconds, at the instant utc_seconds (seconds since
// 1970-01-01 UTC). Every date conversion of the engine takes its bias from here,
// so summer and winter dates each get the offset that held on that date.
int local_bias_seconds(int64_t utc_seconds);
