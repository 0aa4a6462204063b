// What the dump window shows and where it stands: the file of the open volume
// whose forks it dumps, the fork and sector shown, the moves between sectors,
// the search, the window's title and status texts, and the inspector geometry
// its viewers share. No window system here; the dump window binds it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gui/inspector/fork_dump.h"
#include "gui/inspector/inspect.h"

// The file a dump shows: its catalog record's forks, mapped once.
struct DumpFile {
  bool hfsplus = false;
  uint32_t parent_id = 0;
  uint32_t file_id = 0;
  std::string name;  // UTF-8, as the title shows it
  ForkMap data, resource;
  // map_volume_fork's result per fork: a fork whose extents end early (-1)
  // still shows the sectors they cover.
  int data_map_rc = 0, resource_map_rc = 0;
};

// Finds the file (by its id, else by its name) among the items of folder
// parent_id of the open volume and maps its two forks. A hard link of HFS+
// shows its target's forks. 0 found; -1 no such file; k_dump_no_volume.
// name: HFS the Mac Roman bytes, HFS+ empty (units holds the name).
constexpr int k_dump_no_volume = -2;
[[nodiscard]] int open_dump_file(uint32_t parent_id, uint32_t file_id, const std::string& name, const std::u16string& units,
                                 DumpFile& out);

// The dump window's search, kept from one window to the next.
struct DumpSearchState {
  std::vector<uint8_t> pattern;  // the bytes searched for
  std::string last_text;         // what the search dialog proposes next time
  int offset = -1;               // offset of the last match in its sector; -1 before a search
  bool at_start = false;         // matches only at the start of a sector
  bool again = false;            // "Search again" is enabled
};
extern DumpSearchState g_dump_search;

constexpr uint64_t k_no_sector = UINT64_MAX;
enum : int { k_fork_none = -1, k_fork_data_view = 0, k_fork_resource_view = 1 };

class DumpSession {
 public:
  // medium: absolute 512-byte sectors of the open volume's image.
  DumpSession(DumpFile file, SectorReader medium);

  const DumpFile& file() const { return file_; }
  // The fork the window opens on: data when it is not empty, else resource;
  // k_fork_none when both are empty (the window then closes at once).
  int initial_fork() const;
  // Makes fork (0 data, 1 resource) the one shown: nothing is current and the
  // inspector's image is that fork. False for an empty fork or none.
  bool select_fork(int fork);
  int fork() const { return fork_; }
  const ForkMap& fork_map() const;
  uint64_t fork_length() const { return fork_map().length; }
  // ceil(length / 512) - 1 (0 for an empty fork).
  uint64_t last_sector() const;

  // Reads fork sector into buf (512 bytes; zeros past the fork's end) and
  // makes it the current one; the one before becomes the previous sector.
  // absolute gets the medium's sector (-1 when unmapped). 0 read;
  // k_sector_refused (outside the fork: nothing changes); k_sector_unreadable
  // (the sector is current, shown as zeros).
  [[nodiscard]] int show(uint64_t sector, uint8_t* buf, int64_t& absolute);
  // Reads fork sector without making it current; the same results.
  [[nodiscard]] int read(uint64_t sector, uint8_t* buf, int64_t* absolute = nullptr) const;
  uint64_t current() const { return current_; }
  uint64_t previous() const { return previous_; }

  // The sector each move leads to, or -1 when it cannot (the window beeps).
  int64_t home_target() const;
  int64_t end_target() const;
  int64_t previous_target() const;
  int64_t next_target() const;   // Page Down (and Down past the sector's last page)
  int64_t prior_target() const;  // Page Up (and Up above its first page)
  // The go-to dialog's text ("n", "+n", "-n"): the sector, or -1 when it is not
  // a number, leaves the fork, or is the current one.
  int64_t goto_target(const std::string& text) const;
  // The go-to dialog's proposal: the current sector in the dump radix.
  std::string goto_proposal() const;

  // Runs the search of g_dump_search: from the current sector (again: after
  // the last match), anywhere or at sector starts. Returns the match's offset
  // and sets sector, or -1. poll is called with each sector searched and
  // stops the search when it returns false.
  [[nodiscard]] int search(bool again, uint64_t& sector, const std::function<bool(uint64_t)>& poll = nullptr) const;

  // "name (Data, length: n bytes)[Corvane]".
  std::string title() const;
  // Status panels: the sector in the fork, the medium's sector, the byte
  // offset in the fork, in the dump radix ("" for an absolute sector of -1).
  std::array<std::string, 3> status_texts(uint64_t sector, int64_t absolute) const;
  // The captions of the fork items: "Data Fork [n]", "Resource Fork [n]"
  // (the length only for a fork that is not empty).
  std::string fork_caption(int fork) const;

  // Absolute 512-byte sectors of the medium the forks lie on.
  const SectorReader& medium() const { return medium_; }
  // The fork shown as the dumped object of the viewers: its sectors through
  // the map, reads outside it refused.
  SectorReader fork_reader() const;
  // The same over a reader of the medium of its own (a descriptor of the
  // image file of its own), for a walk on another thread.
  SectorReader fork_reader_for_thread() const;

  // The viewers' geometry: reset (image = the fork's sectors) when the fork
  // changes, kept from one viewer to the next.
  InspectorContext inspector;

 private:
  DumpFile file_;
  SectorReader medium_;
  int fork_ = k_fork_none;
  uint64_t current_ = k_no_sector, previous_ = k_no_sector;
};

// A reader of the open volume's image over a descriptor of its own (image
// files only; otherwise the engine's reader).
SectorReader volume_medium_reader_for_thread();

// The font size typed in its dialog: 0 (nothing changes) for text that is no
// number or is 0, else the number brought into 6..20.
int parse_font_size(const std::string& text);

// Text of a number in the dump radix (decimal, or lower-case hexadecimal).
std::string dump_radix_text(uint64_t v);
