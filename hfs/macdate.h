// Mac dates: unsigned seconds since 1904-01-01 00:00. HFS volumes keep local
// time, HFS+ volumes GMT. The local-time bias comes from platform/timezone.h,
// taken at the instant being converted (so daylight saving is right for old
// dates too).
#pragma once

#include <cstdint>

constexpr int64_t k_mac_epoch_offset = 2082844800;  // seconds from 1904 to 1970

// Seconds since 1970 (UTC) to a Mac date; local time when hfs_local is set.
// Dates before 1904 or after 2040-02-06 are clamped to the representable range.
uint32_t unix_to_mac_date(int64_t unix_seconds, bool hfs_local);
// The reverse: a Mac date (local time when hfs_local) to seconds since 1970 UTC.
int64_t mac_date_to_unix(uint32_t mac_date, bool hfs_local);

// The current time as a Mac date for a volume of that kind.
uint32_t mac_date_now_for(bool hfsplus);
// The current time as a Mac date for the open volume (local time on HFS).
uint32_t mac_date_now();

// A PC file's last-write time as a Mac date for the open volume's kind; 0 when
// the file cannot be examined.
uint32_t file_mac_mod_date(int fd);
