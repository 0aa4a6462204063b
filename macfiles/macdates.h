// Mac dates (seconds since 1 January 1904) on the PC side: the encodings keep
// them in local time (as MacBinary and HFS do); AppleSingle/AppleDouble and
// HFS+ keep universal time. All conversions here take the zone offset at the
// instant concerned from the platform's bias helper.
#pragma once

#include <cstdint>
#include <ctime>

constexpr int64_t k_mac_epoch_offset = 2082844800;  // seconds from 1904 to 1970

// Local Mac date <-> universal Mac date.
uint32_t mac_local_to_utc(uint32_t local_date);
uint32_t mac_utc_to_local(uint32_t utc_date);
// Unix time <-> universal Mac date.
inline uint32_t unix_to_mac_utc(int64_t t) { return uint32_t(t + k_mac_epoch_offset); }
inline int64_t mac_utc_to_unix(uint32_t d) { return int64_t(d) - k_mac_epoch_offset; }
// Unix time <-> local Mac date.
uint32_t unix_to_mac_local(int64_t t);
int64_t mac_local_to_unix(uint32_t d);
