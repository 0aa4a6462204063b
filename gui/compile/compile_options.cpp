#include "gui/compile/compile_options.h"

#include "IO/charsets.h"
#include "IO/fileio.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "compiler/compilejob.h"
#include "gui/forms/name_checks.h"
#include "gui/project/long_names.h"

namespace {

constexpr uint32_t k_hfs_max_blocks = 65535;
constexpr uint32_t k_hfs_max_fork_blocks = 0x7FFF;
constexpr uint32_t k_hfs_max_block_size = 63488;  // the last multiple of 2048 below 64 KiB
constexpr uint64_t k_hfs_max_items = 65535;

std::string base_name_of(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = leaf.rfind('.');
  return dot == std::string::npos || dot == 0 ? leaf : leaf.substr(0, dot);
}

// A text cut to limit bytes of its field: Mac Roman bytes, or UTF-8 bytes.
std::string cut_to(std::string_view text, size_t limit, bool mac_roman) {
  if (!mac_roman) return clip_utf8(text, limit);
  std::string mac = utf8_to_macroman(text);
  return macroman_to_utf8(mac.substr(0, std::min(mac.size(), limit)));
}

bool hybrid_kind(CompileDialogKind kind) {
  return kind == CompileDialogKind::hybrid || kind == CompileDialogKind::hfs_only;
}

std::string hfs_name_text(const ProjectHeader& h) {
  return h.hfsplus_target() ? h.hfs_volume_name : macroman_to_utf8(h.hfs_volume_name);
}

}  // namespace

uint32_t hfs_block_size_for(FILE* project) {
  if (!project) return 0;
  const uint32_t largest = get_largest_fork_size(project);
  auto fits = [&](uint32_t bs) {
    return count_allocation_blocks(project, bs) <= k_hfs_max_blocks && largest / bs < k_hfs_max_fork_blocks;
  };
  // Both counts only fall as the block grows: the smallest size that fits is
  // found by halving the range of the 31 sizes.
  uint32_t lo = 1, hi = k_hfs_max_block_size / 2048;
  if (!fits(hi * 2048)) return 0;
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (fits(mid * 2048)) hi = mid;
    else lo = mid + 1;
  }
  return lo * 2048;
}

int hfs_refusal(FILE* project) {
  if (!project) return 0;
  recount_project_totals(project);
  ProjectHeader h;
  if (!read_project_header(project, h)) return 0;
  if (h.hfs_item_count > k_hfs_max_items) return k_text_hfs_too_many_items;
  return hfs_block_size_for(project) == 0 ? k_text_hfs_too_many_blocks : 0;
}

void set_project_hfs_format(FILE* project, bool hfsplus) {
  ProjectHeader h;
  if (!project || !read_project_header(project, h) || h.hfsplus_target() == hfsplus) return;
  std::string name = hfs_name_text(h);
  h.target_flags = uint8_t((h.target_flags & ~3) | (hfsplus ? 1 : 0));
  set_header_hfs_volume_name(h, name);
  if (!write_project_header(project, h)) return;  // the names stay those of the format the header keeps
  if (hfsplus) convert_names_to_hfsplus(project);
  else convert_names_to_hfs(project);
}

bool switch_to_hfsplus_when_needed(FILE* project) {
  if (!project || get_project_hfs_format(project) == 1 || hfs_refusal(project) == 0) return false;
  set_project_hfs_format(project, true);
  return true;
}

size_t compile_label_limit(CompileDialogKind kind) { return hybrid_kind(kind) ? 16 : 12; }
size_t compile_hfs_name_limit(bool hfsplus) { return hfsplus ? 61 : k_hfs_volume_name_limit; }

bool name_untitled_project(FILE* project, const std::string& target_path, CompileDialogKind kind) {
  ProjectHeader h;
  if (!project || !read_project_header(project, h) || h.volume_label != ui_text(k_text_untitled)) return false;
  std::string base = base_name_of(target_path);
  if (base.empty()) return false;
  h.volume_label = clip_utf8(base, compile_label_limit(kind));
  if (hybrid_kind(kind)) {
    bool plus = h.hfsplus_target();
    set_header_hfs_volume_name(h, cut_to(base, compile_hfs_name_limit(plus), !plus));
  }
  return write_project_header(project, h);
}

void reload_compile_labels(FILE* project, CompileOptionsModel& m) {
  ProjectHeader h;
  if (!project || !read_project_header(project, h)) return;
  m.label = h.volume_label;
  m.hfs_name = hfs_name_text(h);
}

bool begin_advanced_options(FILE* project, const CompileOptionsModel& m, AdvancedOptionsEdit& edit) {
  if (!project || !read_project_header(project, edit.header)) return false;
  edit.stored_label = edit.header.volume_label;
  edit.typed_label = m.label.substr(0, m.label.find('\0'));
  edit.header.volume_label = edit.typed_label;
  return true;
}

bool finish_advanced_options(FILE* project, AdvancedOptionsEdit& edit, CompileOptionsModel& m) {
  ProjectHeader h = edit.header;
  m.label = h.volume_label;
  // What was only typed in the compile dialog goes into the compile, not into the project.
  if (h.volume_label == edit.typed_label) h.volume_label = edit.stored_label;
  return project && write_project_header(project, h);
}

std::string format_change_question(FILE* project, bool hfsplus) {
  ProjectHeader h;
  if (!project || !read_project_header(project, h) || h.hfsplus_target() == hfsplus) return std::string();
  std::vector<ReplacedName> names;
  std::string volume = hfs_name_text(h);
  std::string kept = hfsplus ? clip_utf8(volume, k_hfsplus_name_limit + 1)
                             : macroman_to_utf8(utf8_to_macroman(volume).substr(0, k_hfs_volume_name_limit));
  if (kept != volume) names.push_back({volume, kept});
  for (ReplacedName& n : hfs_names_a_format_change_replaces(project, hfsplus)) names.push_back(std::move(n));
  if (names.empty()) return std::string();
  constexpr size_t k_shown = 10;
  std::string lines;
  for (size_t i = 0; i < names.size() && i < k_shown; ++i)
    lines += "\"" + names[i].before + "\" \xE2\x86\x92 \"" + names[i].after + "\"\n";  // before -> after
  if (names.size() > k_shown) lines += format_text(ui_text(6660).c_str(), int(names.size() - k_shown)) + "\n";
  return format_text(ui_text(6659).c_str(), lines.c_str());
}

void init_compile_options(FILE* project, CompileDialogKind kind, const std::string& target, CompileOptionsModel& m) {
  m = CompileOptionsModel{};
  m.kind = kind;
  m.target_path = target;
  if (!project) return;
  bool isoplus = kind == CompileDialogKind::isoplus;
  if (!isoplus) (void)compute_project_statistics(project, m.stats);  // may switch a crowded HFS view to HFS+
  ProjectHeader h;
  if (!read_project_header(project, h)) return;
  reload_compile_labels(project, m);
  m.hfsplus = m.project_hfsplus = h.hfsplus_target();
  m.rebuild = (h.open_flags & 0x20) != 0;
  if (isoplus) {
    ProjectRecord r;
    while (read_project_record(project, r)) {
      if (r.is_folder()) ++m.stats.folders, ++m.stats.iso_folders;
      else ++m.stats.files, ++m.stats.iso_files;
    }
    m.payload_bytes = uint64_t(count_allocation_blocks(project, 2048)) * 2048;
  } else {
    m.payload_bytes = m.stats.data_sectors * 2048;
  }
}

int check_compile_options(FILE* project, const CompileOptionsModel& m, int& field) {
  std::string stored;
  field = 0;
  if (m.label.size() > compile_label_limit(m.kind) || !is_valid_utf8(m.label)) return k_text_name_too_long;
  if (!hybrid_kind(m.kind)) return 0;
  field = 1;
  std::string mac = m.hfsplus ? m.hfs_name : utf8_to_macroman(m.hfs_name);
  if (mac.size() > compile_hfs_name_limit(m.hfsplus) || !is_valid_utf8(m.hfs_name)) return k_text_name_too_long;
  field = 2;
  if (!m.hfsplus && m.project_hfsplus) return hfs_refusal(project);
  return 0;
}

int apply_compile_options(FILE* project, const CompileOptionsModel& m, CompileSettings& settings) {
  int result = 1 | (m.rebuild ? 2 : 0) | (m.post_gap ? 4 : 0);
  std::string untitled = ui_text(k_text_untitled);
  std::string label = m.label.substr(0, m.label.find('\0')), hfs_name = m.hfs_name.substr(0, m.hfs_name.find('\0'));
  settings.volume_label = label.empty() ? untitled : label;
  if (hybrid_kind(m.kind)) {
    set_project_hfs_format(project, m.hfsplus);
    std::string name = hfs_name.empty() ? untitled : hfs_name;
    settings.hfs_volume_name = m.hfsplus ? name : utf8_to_macroman(name);
  }
  settings.options = uint32_t(result);
  settings.kind = compile_kind_of(m.kind, m.hfsplus);
  return result;
}

int compile_kind_of(CompileDialogKind kind, bool hfsplus) {
  switch (kind) {
    case CompileDialogKind::hybrid: return hfsplus ? k_compile_hybrid_hfsplus : k_compile_hybrid_hfs;
    case CompileDialogKind::hfs_only: return hfsplus ? k_compile_hfsplus : k_compile_hfs;
    case CompileDialogKind::iso_only: return k_compile_iso;
    case CompileDialogKind::isoplus: return k_compile_isoplus;
  }
  return k_compile_iso;
}

CompileImageCounts compile_image_counts(const CompileOptionsModel& m, int options) {
  CompileImageCounts c;
  c.sectors = (m.payload_bytes + 2047) / 2048;
  if (m.kind != CompileDialogKind::isoplus && (options & 4)) c.sectors += k_post_gap_sectors;
  bool iso = m.kind == CompileDialogKind::iso_only || m.kind == CompileDialogKind::isoplus;
  bool hfs = m.kind == CompileDialogKind::hfs_only;
  c.folders = iso ? m.stats.iso_folders : hfs ? m.stats.hfs_folders : m.stats.folders;
  c.files = iso ? m.stats.iso_files : hfs ? m.stats.hfs_files : m.stats.files;
  return c;
}

// --- project properties ----------------------------------------------------------------------------

void init_project_properties(FILE* project, bool isoplus, ProjectPropertiesModel& m) {
  m = ProjectPropertiesModel{};
  m.isoplus = isoplus;
  if (!project) return;
  ProjectHeader h;
  if (isoplus) {
    if (!read_project_header(project, h)) return;
    ProjectRecord r;
    while (read_project_record(project, r)) {
      if (r.is_folder()) ++m.stats.folders, ++m.stats.iso_folders;
      else ++m.stats.files, ++m.stats.iso_files;
      m.stats.data_sectors += record_sectors(r);
    }
  } else {
    (void)compute_project_statistics(project, m.stats);  // the target is read from the header next
    if (!read_project_header(project, h)) return;
  }
  m.label = h.volume_label;
  m.total_bytes = m.stats.data_sectors * 2048;
  m.rebuild = (h.open_flags & 0x20) != 0;
  m.open_root = (h.open_flags & 0x01) != 0;
  m.custom_icon = (h.icon_flags & 0x04) != 0;
  m.hfsplus = m.project_hfsplus = h.hfsplus_target();
}

void compute_real_size(FILE* project, ProjectPropertiesModel& m) {
  uint32_t bs = 2048;
  if (!m.isoplus && !m.hfsplus) {
    bs = hfs_block_size_for(project);
    if (bs == 0) bs = k_hfs_max_block_size;
  }
  char size[k_size_text];
  m.real_size = format_size_mb(uint64_t(count_allocation_blocks(project, bs)) * bs, size);
}

int check_project_properties(FILE* project, const ProjectPropertiesModel& m) {
  if (m.isoplus || m.hfsplus || !m.project_hfsplus) return 0;
  return hfs_refusal(project);
}

int apply_project_properties(FILE* project, const ProjectPropertiesModel& m) {
  if (m.isoplus) return 1;
  set_project_hfs_format(project, m.hfsplus);
  ProjectHeader h;
  if (!read_project_header(project, h)) return -1;
  auto bit = [](uint8_t& flags, uint8_t b, bool on) { flags = uint8_t(on ? flags | b : flags & ~b); };
  bit(h.open_flags, 0x20, m.rebuild);
  bit(h.open_flags, 0x01, m.open_root);
  bit(h.icon_flags, 0x04, m.custom_icon);
  return write_project_header(project, h) ? 1 : -1;
}
