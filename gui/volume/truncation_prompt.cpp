#include "gui/volume/truncation_prompt.h"

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/settings.h"
#include "compiler/commands.h"
#include "hfs/voledit.h"
#include "macfiles/extract.h"

void init_hfs_truncation(const std::string& mac_name, uint32_t parent, HfsTruncationPrompt& p) {
  p = HfsTruncationPrompt{};
  p.parent = parent;  // the folder of this item, before anything is checked
  p.original = macroman_to_utf8(mac_name);
  p.typed = macroman_to_utf8(cut_hfs_name(mac_name));
}

bool hfs_truncation_can_confirm(const HfsTruncationPrompt& p) {
  if (p.typed.empty()) return false;
  std::string mac = utf8_to_macroman(p.typed);
  return mac.size() <= 31 && hfs_item_type(mac, p.parent) == 0;
}

int confirm_hfs_truncation(const HfsTruncationPrompt& p, std::string& mac_name) {
  mac_name = utf8_to_macroman(p.typed);
  if (!p.automatic) return -1;
  int answer = p.crc ? 3 : 2;
  if (p.save) {
    // For good: the copies read the bits now, the settings keep them for the next start.
    uint32_t bits = uint32_t(k_option_shorten_auto) | (p.crc ? uint32_t(k_option_shorten_auto_crc) : 0u);
    g_extract_options |= bits;
    g_options |= bits;
  }
  return -answer;
}

int run_hfs_truncation_prompt(std::string& mac_name, uint32_t parent,
                              const std::function<bool(HfsTruncationPrompt&)>& show) {
  HfsTruncationPrompt p;
  init_hfs_truncation(mac_name, parent, p);
  // The typed name must be usable unless an automatic rule is chosen (the rule
  // then settles clashes itself).
  if (!show || !show(p) || (!p.automatic && !hfs_truncation_can_confirm(p)) || p.typed.empty()) {
    mac_name.clear();
    return 0;
  }
  return confirm_hfs_truncation(p, mac_name);
}
