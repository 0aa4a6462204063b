// Icons in resource forks: reading classic icon resources and 'icns'
// resources from MacBinary, AppleSingle and AppleDouble files, and writing the
// MacBinary icon files and the custom-icon file ("Icon\r", ICNS/MACS).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "iconasm/core/icon_family.h"

// Resource id of every resource written.
constexpr int16_t k_custom_icon_resource_id = -16455;

// Reads one icon family of the fork at bytes [start, start + length) of file:
// the icon resources of its lowest id (how many families the fork holds goes
// to f.report, with the compressed resources passed over and the damaged
// ones). 0 done, k_icon_damaged the fork's header or map is damaged.
[[nodiscard]] int read_resource_fork_icons(IconFamily& f, std::span<const uint8_t> file, size_t start, size_t length);

// Whole-file readers (the file's bytes); what they meet goes to f.report.
// 0 done, k_icon_damaged, 1 no usable resources.
[[nodiscard]] int read_macbinary_icons(IconFamily& f, std::span<const uint8_t> file, const std::string& path);
[[nodiscard]] int read_applesingle_icons(IconFamily& f, std::span<const uint8_t> file, const std::string& path);

struct ForkResource {
  char type[5];
  std::vector<uint8_t> data;
};
// A resource fork holding the resources in order, one of each type.
std::vector<uint8_t> build_resource_fork(const std::vector<ForkResource>& resources);

// The "ICN#" element of the 32 x 32 row (mask bits in both halves); empty and
// reported when neither ic32 nor im32 holds a picture. When im32 is empty, the
// mask made from ic32 is drawn into it (mark 1).
std::vector<uint8_t> build_icn_element(IconFamily& f);
std::vector<uint8_t> build_icl8_element(const IconFamily& f);

// The custom icns: ICN#, icl8, then il32/l8mk and ih32/h8mk.
std::vector<uint8_t> build_custom_icns(IconFamily& f);

// A MacBinary II file "Icon\r", ICNS/MACS, invisible; both forks padded to 128.
std::vector<uint8_t> build_icon_macbinary(const std::vector<uint8_t>& data_fork,
                                          const std::vector<uint8_t>& resource_fork, uint32_t mac_date);
// The current time as a local Macintosh date.
uint32_t mac_now();

// The save commands' contents. Empty when there is nothing to write (reported).
std::vector<uint8_t> build_resource_only_file(const IconFamily& f);
std::vector<uint8_t> build_both_forks_file(const IconFamily& f);
std::vector<uint8_t> build_single_resource_file(const IconImage& picture);
std::vector<uint8_t> build_custom_icon_file(IconFamily& f);
