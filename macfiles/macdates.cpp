#include "macfiles/macdates.h"

#if __has_include("platform/timezone.h")
#include "platform/timezone.h"
#else
#include <ctime>
// Until the platform layer offers it: local time minus UTC at that instant.
static int local_bias_seconds(int64_t utc_seconds) {
  time_t t = time_t(utc_seconds);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  return int(tm.tm_gmtoff);
}
#endif

uint32_t mac_local_to_utc(uint32_t local_date) {
  // The offset is taken at the instant the local date names; near a change of
  // season the guess made with the local date itself is corrected once.
  int64_t local_unix = int64_t(local_date) - k_mac_epoch_offset;
  int64_t utc = local_unix - local_bias_seconds(local_unix);
  utc = local_unix - local_bias_seconds(utc);
  return uint32_t(utc + k_mac_epoch_offset);
}

uint32_t mac_utc_to_local(uint32_t utc_date) {
  int64_t utc = int64_t(utc_date) - k_mac_epoch_offset;
  return uint32_t(utc + local_bias_seconds(utc) + k_mac_epoch_offset);
}

uint32_t unix_to_mac_local(int64_t t) { return uint32_t(t + local_bias_seconds(t) + k_mac_epoch_offset); }

int64_t mac_local_to_unix(uint32_t d) { return mac_utc_to_unix(mac_local_to_utc(d)); }
