#include "IO/rawcd.h"

#include <array>
#include <cstring>

#include "IO/bigendian.h"

namespace {

struct Tables {
  std::array<uint8_t, 256> mul2{};     // x * alpha in GF(2^8), polynomial 0x11D
  std::array<uint8_t, 256> div3{};     // inverse of (x * alpha) XOR x
  std::array<uint32_t, 256> edc{};
};

constexpr Tables make_tables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t j = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
    t.mul2[i] = uint8_t(j);
    t.div3[i ^ j] = uint8_t(i);
    uint32_t e = i;
    for (int k = 0; k < 8; ++k) e = (e >> 1) ^ ((e & 1) ? 0xD8018001u : 0);
    t.edc[i] = e;
  }
  return t;
}
constexpr Tables k_tables = make_tables();

// One pass of the product code over the 2340 bytes from byte 12: major_count
// code words of minor_count bytes each, read with the given strides; the two
// parity bytes of word m go to dest[m] and dest[m + major_count].
void parity_pass(const uint8_t* src, int major_count, int minor_count, int major_mult, int minor_inc,
                 uint8_t* dest) {
  const int size = major_count * minor_count;
  for (int major = 0; major < major_count; ++major) {
    int index = (major >> 1) * major_mult + (major & 1);
    uint8_t a = 0, b = 0;
    for (int minor = 0; minor < minor_count; ++minor) {
      uint8_t v = src[index];
      index += minor_inc;
      if (index >= size) index -= size;
      a ^= v;
      b ^= v;
      a = k_tables.mul2[a];
    }
    a = k_tables.div3[k_tables.mul2[a] ^ b];
    dest[major] = a;
    dest[major + major_count] = uint8_t(a ^ b);
  }
}

}  // namespace

uint8_t bin_to_bcd(int v) { return uint8_t((v / 10) << 4 | v % 10); }
int bcd_to_bin(uint8_t v) { return (v >> 4) * 10 + (v & 15); }

int cd_build_header(uint8_t* sector, uint32_t lba, uint8_t mode) {
  if (lba > k_raw_last_lba) return 1;
  uint32_t n = lba + 150;
  sector[0] = 0;
  std::memset(sector + 1, 0xFF, 10);
  sector[11] = 0;
  sector[12] = bin_to_bcd(int(n / 4500));
  sector[13] = bin_to_bcd(int(n % 4500 / 75));
  sector[14] = bin_to_bcd(int(n % 75));
  sector[15] = mode;
  return 0;
}

uint32_t cd_edc(const uint8_t* sector, int first, int last) {
  uint32_t edc = 0;
  for (int i = first; i <= last; ++i) edc = (edc >> 8) ^ k_tables.edc[(edc ^ sector[i]) & 0xFF];
  return edc;
}

void cd_mode1_edc(uint8_t* sector) {
  put_le32(sector + 2064, cd_edc(sector, 0, 2063));
  std::memset(sector + 2068, 0, 8);
}

void cd_mode2_edc(uint8_t* sector) {
  if (sector[18] & 0x20)
    put_le32(sector + 2348, cd_edc(sector, 16, 2347));
  else
    put_le32(sector + 2072, cd_edc(sector, 16, 2071));
}

void cd_p_parity(uint8_t* sector) { parity_pass(sector + 12, 86, 24, 2, 86, sector + 2076); }
void cd_q_parity(uint8_t* sector) { parity_pass(sector + 12, 52, 43, 86, 88, sector + 2248); }

void cd_mode1_ecc(uint8_t* sector) {
  cd_p_parity(sector);
  cd_q_parity(sector);
}

void cd_mode2_ecc(uint8_t* sector) {
  if (sector[18] & 0x20) return;
  uint8_t header[4];
  std::memcpy(header, sector + 12, 4);
  std::memset(sector + 12, 0, 4);
  cd_mode1_ecc(sector);
  std::memcpy(sector + 12, header, 4);
}
