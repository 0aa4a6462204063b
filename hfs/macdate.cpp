#include "hfs/macdate.h"

#include <sys/stat.h>

#include <ctime>


#include "hfs/volume.h"
#include "platform/timezone.h"

uint32_t unix_to_mac_date(int64_t unix_seconds, bool hfs_local) {
  int64_t t = unix_seconds + k_mac_epoch_offset;
  if (hfs_local) t += local_bias_seconds(unix_seconds);
  if (t < 0) return 0;
  if (t > int64_t(UINT32_MAX)) return UINT32_MAX;
  return uint32_t(t);
}

int64_t mac_date_to_unix(uint32_t mac_date, bool hfs_local) {
  int64_t t = int64_t(mac_date) - k_mac_epoch_offset;
  if (hfs_local) {
    // The bias belongs to the UTC instant; a first guess from the local value
    // is corrected once, which settles every date outside a clock change hour.
    int64_t guess = t - local_bias_seconds(t);
    t = t - local_bias_seconds(guess);
  }
  return t;
}

uint32_t mac_date_now_for(bool hfsplus) { return unix_to_mac_date(int64_t(std::time(nullptr)), !hfsplus); }

uint32_t mac_date_now() { return mac_date_now_for(g_volume.is_hfsplus != 0); }



uint32_t file_mac_mod_date(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return 0;
  return unix_to_mac_date(int64_t(st.st_mtime), g_volume.is_hfsplus == 0);
}
