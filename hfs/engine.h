// The engine's work area (volume-start, header and node buffers of both trees)
// and the text slots the engine shares with the programs. Set up once at start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t k_work_area_size = 198656;  // 0x30800
constexpr size_t k_volume_start_offset = 0;
constexpr size_t k_volume_start_size = 4096;
constexpr size_t k_extents_header_offset = 0x1000;
constexpr size_t k_extents_node_offset = 0x9000;
constexpr size_t k_catalog_header_offset = 0x11000;
constexpr size_t k_catalog_node_offset = 0x19000;
constexpr size_t k_tree_buffer_size = 32768;       // largest node size opened
constexpr size_t k_catalog_node_buffer_size = 96256;

extern uint8_t* g_work_area;
extern uint8_t* g_volume_start;        // volume-start buffer (MDB or volume header in it)
extern uint8_t* g_volume_start_copy;   // second pointer to it
extern uint8_t* g_extents_header;
extern uint8_t* g_extents_node;
extern uint8_t* g_catalog_header;
extern uint8_t* g_catalog_node;

// Text slots (growable: Linux paths exceed 260 bytes).
extern std::string g_help_path;
extern std::string g_popup_help_path;
extern std::string g_project_path;
extern std::string g_isoplus_path;
extern std::string g_partition_path;
extern std::string g_backup_path;
extern std::string g_signature_file_path;
extern std::string g_log_path;
extern std::string g_target_path;
constexpr size_t k_volume_name_buffer_size = 1040;
extern char g_volume_name_buffer[k_volume_name_buffer_size];
// Current folder of the PC scan, in its own buffer.
extern std::u16string g_current_dir_w;

// Sets the tree kinds, allocates the zeroed work area and lays it out.
// 0 success, -1 when the memory cannot be had (reported through show_message).
[[nodiscard]] int init_volume_engine();
// Points the trees' buffers and the volume-start pointers into the work area.
void layout_engine_buffers();
// Frees the work area (and the node cache); the engine needs init again after.
void release_volume_engine();
