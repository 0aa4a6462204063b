// Local and universal Mac dates. MacBinary, BinHex and HFS keep local time;
// AppleSingle/AppleDouble and HFS+ keep universal time. Conversions go through
// the engine's one bias helper (hfs/macdate.h). A zero date stays zero (unknown).
#pragma once

#include <cstdint>

#include "hfs/macdate.h"

inline uint32_t mac_local_to_utc(uint32_t local_date) {
  return local_date ? unix_to_mac_date(mac_date_to_unix(local_date, true), false) : 0;
}
inline uint32_t mac_utc_to_local(uint32_t utc_date) {
  return utc_date ? unix_to_mac_date(mac_date_to_unix(utc_date, false), true) : 0;
}
