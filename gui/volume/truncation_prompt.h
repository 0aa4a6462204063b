// The prompt of the copy onto an HFS volume when a name is over 31 bytes: the
// user types a name, or chooses the automatic cut (with or without a CRC on a
// clash), once for the command or for good. It answers the engine's
// ask_hfs_name_truncation; the automatic rule itself is the engine's
// (resolve_long_hfs_name, apply_truncated_name).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct HfsTruncationPrompt {
  uint32_t parent = 0;    // the volume folder the item goes into
  std::string original;   // the full name, as text
  std::string typed;      // the truncated name, as text (editable)
  bool automatic = false; // "Automatic Truncation to 31 char. by the program"
  bool crc = false;       // "Add CRC in case of name conflict (27 + 4)"
  bool save = false;      // "Save those settings in the Registry"
};

// mac_name: the Mac Roman name (or the candidate that clashed); parent: its folder.
void init_hfs_truncation(const std::string& mac_name, uint32_t parent, HfsTruncationPrompt& p);
// The confirm button: enabled when the typed name is not empty, fits 31 Mac
// Roman bytes and names nothing in the prompt's folder.
bool hfs_truncation_can_confirm(const HfsTruncationPrompt& p);
// Confirm: the typed name (Mac Roman) into mac_name; -1 the typed name, -2
// automatic truncation, -3 automatic truncation with a CRC. With "save", the
// automatic choice goes into the option bits for good.
int confirm_hfs_truncation(const HfsTruncationPrompt& p, std::string& mac_name);
// The whole prompt for the hook: show fills the prompt from the user and says
// whether it was confirmed (false: Cancel, Esc or close). The answer as
// confirm_hfs_truncation gives it, or 0 (name emptied) when cancelled.
int run_hfs_truncation_prompt(std::string& mac_name, uint32_t parent,
                              const std::function<bool(HfsTruncationPrompt&)>& show);
