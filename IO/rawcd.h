// Raw 2352-byte CD sectors: sync, header, EDC and the Reed-Solomon product code
// (P and Q parity) for Mode 1 and Mode 2 (XA Form 1 and Form 2).
#pragma once

#include <cstdint>

constexpr int k_raw_sector_size = 2352;

// Highest LBA whose address (lba + 150) still fits in a two-digit BCD minute.
constexpr uint32_t k_raw_last_lba = 99u * 4500u + 59u * 75u + 74u - 150u;

uint8_t bin_to_bcd(int v);  // 0-99
int bcd_to_bin(uint8_t v);

// Sync pattern, the BCD address of lba + 150 and the mode byte. Returns 0, or 1
// when the address does not fit (past 99:59:74); nothing is written then.
[[nodiscard]] int cd_build_header(uint8_t* sector, uint32_t lba, uint8_t mode);

// EDC over bytes first..last inclusive (CRC, reflected polynomial 0xD8018001,
// initial value 0, no final inversion).
uint32_t cd_edc(const uint8_t* sector, int first, int last);
void cd_mode1_edc(uint8_t* sector);  // EDC of 0-2063 at 2064, and the zero area 2068-2075
void cd_mode2_edc(uint8_t* sector);  // Form 1: 16-2071 at 2072; Form 2: 16-2347 at 2348

void cd_p_parity(uint8_t* sector);  // 2076-2247 from byte 12 on
void cd_q_parity(uint8_t* sector);  // 2248-2351 from byte 12 on
void cd_mode1_ecc(uint8_t* sector);
void cd_mode2_ecc(uint8_t* sector);  // Form 1 only: header counted as zero
