// The resource fork of the dumped file as a tree (file, types, resources), the
// dump of one resource and its export as raw bytes (.bin) or hexadecimal text
// (.hex). The fork is decoded by the engine's bounds-checked resource map
// reader; a fork inside an AppleDouble file is taken from its entry 2.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "gui/inspector/fork_dump.h"
#include "gui/inspector/inspect.h"
#include "macfiles/results.h"

struct ResourceEntry {
  std::array<uint8_t, 4> type{};
  int16_t id = 0;
  bool has_name = false;
  std::string name;      // UTF-8
  uint64_t offset = 0;   // fork offset of the resource's length word
  uint32_t length = 0;   // bytes of data after the length word
};

struct ResourceTree {
  uint64_t base = 0;  // where the resource file starts in the fork (AppleDouble: entry 2)
  // In tree order: entry k is the k-th resource node of the tree, counted
  // through the types in order.
  std::vector<ResourceEntry> entries;
  // One root (the file name), its types ("TEXT"), their resources
  // ("id=0x0080, lg=1200").
  std::vector<ViewTreeNode> tree;
  std::vector<std::string> messages;
};

// Largest fork the tree reads whole (resource forks address at most 16 MiB of data).
constexpr uint64_t k_max_resource_fork = 32u << 20;

// Reads the whole fork through the map (at most k_max_resource_fork bytes).
// 0 done; -1 too large; k_sector_unreadable.
[[nodiscard]] int load_fork_bytes(const ForkMap& map, const SectorReader& medium, std::vector<uint8_t>& out);

// 0 done (a fork without types gives the root alone); k_format_damaged: the
// map is damaged (the root alone, and a message); k_not_this_format: too short
// to be a resource fork (a message).
[[nodiscard]] int build_resource_tree(std::span<const uint8_t> fork, const std::string& file_name, ResourceTree& out);

// The text of a resource node: "id=0x%04x, lg=%u" (the ID unsigned).
std::string resource_node_text(const ResourceEntry& e);
// The dump lines of the resource with its length word, offsets in the fork,
// an empty line after every 16th.
std::vector<std::string> resource_dump_lines(std::span<const uint8_t> fork, const ResourceEntry& e);

// "file.TYPE, id=0x0080, lg=1200" (file name and type with forbidden
// characters replaced).
std::string resource_description(const std::string& file_name, const ResourceEntry& e);
// The proposed export name: the description up to ", id=" and "." ext, with
// every character a PC name cannot hold replaced by '_'.
std::string resource_export_name(const std::string& description, const std::string& ext);
// The resource's data (without its length word) as a file; 0 done, -1 the
// file could not be created or written (nothing is left behind then).
[[nodiscard]] int save_resource_binary(const std::string& path, std::span<const uint8_t> fork, const ResourceEntry& e);
// The description line, then the data as hex pairs 16 a line ("\r\n" ends
// each; the last line padded with zero bytes).
[[nodiscard]] int save_resource_hex(const std::string& path, const std::string& description, std::span<const uint8_t> fork,
                                    const ResourceEntry& e);
