#include "platform/timezone.h"

#include <ctime>

int local_bias_seconds(int64_t utc_seconds) {
  time_t t = static_cast<time_t>(utc_seconds);
  struct tm local {};
  if (!localtime_r(&t, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff);
}
