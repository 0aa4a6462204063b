#include "gui/inspector/viewer_layout.h"

#include <cstdio>

#include "IO/uitext.h"
#include "gui/inspector/btree_view.h"
#include "gui/inspector/volume_headers.h"

namespace {

// A field of a viewer: the caption id its decoder gives, the short word of its
// caption and value names, and its go button when it has one.
struct FieldName {
  int caption;
  const char* word;
  const char* button = nullptr;
  int action = k_button_go;
};

std::string go_caption() { return ui_text(3722); }

int64_t go_of(const StructureView& v, int caption) {
  for (const GoTarget& g : v.gos)
    if (g.caption_id == caption) return g.sector;
  return -1;
}

const ViewField* field_of(const StructureView& v, int caption) {
  for (const ViewField& f : v.fields)
    if (f.caption_id == caption) return &f;
  return nullptr;
}

LayoutPair pair(const std::string& word, int caption, const std::string& value, bool valid = true) {
  return LayoutPair{"text_" + word, ui_text(caption), "cont_" + word, value, valid};
}

LayoutPair heading(const std::string& name, int caption) { return LayoutPair{name, ui_text(caption), "", "", true}; }

// The lines of the named fields the view holds, in the table's order.
void add_fields(LayoutPage& page, const StructureView& v, std::initializer_list<FieldName> names) {
  for (const FieldName& n : names) {
    const ViewField* f = field_of(v, n.caption);
    if (!f) continue;
    LayoutLine line;
    line.pairs.push_back(pair(n.word, n.caption, f->value, f->valid));
    if (n.button) line.buttons.push_back(LayoutButton{n.button, go_caption(), go_of(v, n.caption), n.action});
    page.lines.push_back(std::move(line));
  }
}

LayoutPage page_named(const std::string& name, const std::string& caption) {
  LayoutPage p;
  p.name = name;
  p.caption = caption;
  return p;
}
LayoutPage page(const std::string& name, int caption_id) { return page_named(name, ui_text(caption_id)); }

ViewerLayout frame(const char* form, const StructureView& v, const char* pages_name) {
  ViewerLayout l;
  l.form_name = form;
  l.title = ui_text(v.title_id);
  l.pages_name = pages_name;
  l.messages = v.messages;
  return l;
}

// A viewer of one page: the named fields on its panel.
ViewerLayout single_page(const char* form, const StructureView& v, const char* panel,
                         std::initializer_list<FieldName> names) {
  ViewerLayout l = frame(form, v, panel);
  LayoutPage p = page(panel, v.title_id);
  add_fields(p, v, names);
  l.pages.push_back(std::move(p));
  return l;
}

LayoutList list_of(const std::string& name, const StructureView& v, std::vector<int> widths,
                   std::vector<bool> right, bool images = false) {
  LayoutList list;
  list.name = name;
  for (int id : v.column_ids) list.columns.push_back(ui_text(id));
  list.widths = std::move(widths);
  list.right_aligned = std::move(right);
  list.images = images;
  list.rows = v.rows;
  return list;
}

// --- HFS+ volume header and master directory block ----------------------------------------
// A page of a special file's extents: its key in the rows and names, the word
// and caption of its size line, the caption of the page and its side button
// (whose target the decoder gives under that caption).
struct ForkPage {
  const char* key;
  const char* size_word;
  int size_field;    // the view's caption of the size field
  int size_caption;  // the caption shown beside the size
  int page_caption;
};

struct ExtentCaptions {
  const char* page_prefix;  // "TabHPP"
  int first_page;           // the number of the first fork page
  const char* heading_prefix;
  int heading, number, position;
};

void add_extent_pages(ViewerLayout& l, const StructureView& v, const std::vector<ForkPage>& forks,
                      const ExtentCaptions& c) {
  for (size_t k = 0; k < forks.size(); ++k) {
    const ForkPage& fp = forks[k];
    const ViewField* size = field_of(v, fp.size_field);
    if (!size) continue;  // a special file the volume does not have
    std::string number = std::to_string(c.first_page + int(k));
    LayoutPage pg = page(c.page_prefix + number, fp.page_caption);
    pg.lines.push_back(LayoutLine{{pair(fp.size_word, fp.size_caption, size->value, size->valid)}, {}});
    pg.lines.push_back(LayoutLine{{heading(std::string("text_") + c.heading_prefix + fp.key, c.heading)}, {}});
    for (const ViewRow& r : v.rows) {
      if (r.cells.size() != 4 || r.cells[0] != fp.key) continue;
      std::string n = std::string(fp.key) + r.cells[1];
      LayoutLine line;
      line.pairs.push_back(pair("nb" + n, c.number, r.cells[2]));
      line.pairs.push_back(pair("pos" + n, c.position, r.cells[3]));
      line.buttons.push_back(LayoutButton{"go_pos" + n, go_caption(), r.go_sector});
      pg.lines.push_back(std::move(line));
    }
    l.pages.push_back(std::move(pg));
    l.page_focus.push_back(std::string("go_pos") + fp.key + "1");
    // The side button runs the page's first row even when that row is empty.
    l.side_buttons.push_back(
        LayoutButton{"but_tab" + number, ui_text(fp.page_caption), go_of(v, fp.page_caption)});
  }
}

ViewerLayout hfsplus_header_layout(const StructureView& v) {
  ViewerLayout l = frame("TSectHPP", v, "Classeur");
  LayoutPage general = page("TabHPP1", k_txt_hfsplus_general);
  add_fields(general, v, {{3236, "sign"}, {3237, "last"}, {3238, "tblocs"}, {3239, "nbblocs"}, {3240, "nblibre"},
                          {3241, "nextid"}, {3242, "nbfic"}, {3243, "nbrep"}});
  l.pages.push_back(std::move(general));
  l.page_focus.push_back("");
  const int s = k_txt_fork_size;
  add_extent_pages(l, v,
                   {{"fat", "tfat", k_txt_hfsplus_allocation, s, k_txt_hfsplus_allocation},
                    {"ext", "text", k_txt_hfsplus_extents, s, k_txt_hfsplus_extents},
                    {"cat", "tcat", k_txt_hfsplus_catalog, s, k_txt_hfsplus_catalog},
                    {"att", "tatt", k_txt_hfsplus_attributes, s, k_txt_hfsplus_attributes},
                    {"boot", "tboot", k_txt_hfsplus_startup, s, k_txt_hfsplus_startup}},
                   {"TabHPP", 2, "", k_txt_fork_extents, k_txt_hfsplus_number, k_txt_hfsplus_position});
  return l;
}

ViewerLayout mdb_layout(const StructureView& v) {
  ViewerLayout l = frame("TSectBD", v, "Classeur");
  LayoutPage general = page("TabBD1", 3214);
  add_fields(general, v, {{3215, "sign"}, {3216, "tblocs"}, {3217, "nbblocs"}, {3218, "nblibre"}, {3219, "label"}});
  LayoutPage files = page("TabBD2", 3220);
  add_fields(files, v, {{3221, "numproch"}, {3222, "nbfic"}, {3223, "nbrep"}, {3224, "nbfrac"}, {3225, "nbrrac"}});
  l.pages.push_back(std::move(general));
  l.pages.push_back(std::move(files));
  l.page_focus = {"", ""};
  add_extent_pages(l, v,
                   {{"ext", "text", k_txt_mdb_extent_tree, k_txt_mdb_extent_tree, k_txt_mdb_extents},
                    {"cat", "tcat", k_txt_mdb_catalog_tree, k_txt_mdb_catalog_tree, k_txt_mdb_catalog}},
                   {"TabBD", 3, "ext", k_txt_mdb_heading, k_txt_mdb_number, k_txt_mdb_position});
  // The embedded HFS+ volume of a wrapper.
  for (const ViewRow& r : v.rows) {
    if (r.cells.size() != 4 || r.cells[0] != "hpp") continue;
    LayoutPage hpp = page("TabBD5", k_txt_mdb_embedded);
    hpp.lines.push_back(LayoutLine{{heading("text_exthpp", k_txt_mdb_heading)}, {}});
    LayoutLine line;
    line.pairs.push_back(pair("nbhpp", k_txt_mdb_number, r.cells[2]));
    line.pairs.push_back(pair("poshpp", k_txt_mdb_position, r.cells[3]));
    line.buttons.push_back(LayoutButton{"go_hpp", go_caption(), r.go_sector});
    line.buttons.push_back(LayoutButton{"Go_hpp2", ui_text(3723), go_of(v, k_txt_mdb_embedded)});
    hpp.lines.push_back(std::move(line));
    l.pages.push_back(std::move(hpp));
    l.page_focus.push_back("Go_hpp2");
  }
  return l;
}

// --- Apple partition map ---------------------------------------------------------------------
ViewerLayout driver_descriptor_layout(const StructureView& v) {
  return single_page("TSectER", v, "Panel1", {{3713, "sign"}, {3714, "taille"}, {3715, "nbs"}, {3716, "nbpil"}});
}

ViewerLayout partition_map_layout(const StructureView& v) {
  ViewerLayout l = single_page("TSectPM", v, "Panel1",
                               {{3713, "sign"}, {3717, "taille"}, {3718, "debut"}, {3719, "lgsect"},
                                {3720, "label"}, {3721, "type"}});
  for (LayoutLine& line : l.pages[0].lines)
    if (line.pairs[0].value_name == "cont_debut") {
      line.buttons.push_back(LayoutButton{"Go", go_caption(), go_of(v, 3722)});
      line.buttons.push_back(LayoutButton{"Go2", ui_text(3723), go_of(v, 3723)});
    }
  // Shown only for an entry the map leads on from (sector 2 or later).
  if (go_of(v, 3724) >= 0) l.side_buttons.push_back(LayoutButton{"But_Altern", ui_text(3724), go_of(v, 3724)});
  l.page_focus = {"Go2"};
  return l;
}

ViewerLayout medium_headers_layout(const StructureView& v) {
  ViewerLayout l = frame("TTeteMac", v, "Classeur");
  for (const ViewTreeNode& node : v.tree) {
    if (node.text == "ER") {
      LayoutPage p = page_named("TabND1", "ER");
      static const char* const k_words[] = {"sign", "taille", "nbs", "nbpil"};
      for (size_t i = 0; i < node.children.size() && i < 4; ++i) {
        const ViewTreeNode& c = node.children[i];
        p.lines.push_back(LayoutLine{{pair(k_words[i], c.caption_id, c.value)}, {}});
      }
      l.pages.push_back(std::move(p));
      l.page_focus.push_back("");
      continue;
    }
    int n = 0;
    if (std::sscanf(node.text.c_str(), "PM %d", &n) != 1 || n < 1 || n > 4) continue;
    std::string k = std::to_string(n);
    LayoutPage p = page_named("TabND" + std::to_string(n + 1), node.text);
    LayoutLine jumps;
    for (size_t i = 0; i < node.children.size(); ++i) {
      const ViewTreeNode& c = node.children[i];
      if (c.caption_id == 3722 || c.caption_id == 3723) {
        jumps.buttons.push_back(LayoutButton{"Go" + k + (c.caption_id == 3722 ? "1" : "2"), c.text, c.go_sector});
        continue;
      }
      std::string idx = k + std::to_string(i + 1);
      p.lines.push_back(LayoutLine{{LayoutPair{"st" + idx, ui_text(c.caption_id), "ct" + idx, c.value}}, {}});
    }
    // The jumps stand beside "Start of Partition:".
    if (p.lines.size() > 2) p.lines[2].buttons = jumps.buttons;
    l.pages.push_back(std::move(p));
    l.page_focus.push_back("Go" + k + "2");
  }
  return l;
}

// --- B-tree nodes -------------------------------------------------------------------------------
ViewerLayout btree_header_layout(const StructureView& v) {
  ViewerLayout l = frame("TSectB", v, "PCB");
  LayoutPage general = page("TabGen", k_txt_btree_general);
  add_fields(general, v,
             {{k_txt_btree_node_size, "taille"}, {k_txt_btree_total_nodes, "nbtot"}, {k_txt_btree_free_nodes, "nblibre"},
              {k_txt_btree_busy_nodes, "nbocc"}, {k_txt_btree_leaf_records, "nbitem"}, {k_txt_btree_height, "hauteur"},
              {k_txt_btree_root, "racine", "go_racine"}, {k_txt_btree_first_leaf, "prem", "go_prem"},
              {k_txt_btree_last_leaf, "dern", "go_dern"}, {k_txt_btree_next_map, "topo", "go_topo"}});
  LayoutLine walk;
  walk.buttons.push_back(LayoutButton{"AffTree", ui_text(k_txt_btree_display), -1, k_button_display_tree});
  walk.pairs.push_back(heading("LabAffTree", k_txt_btree_caution));
  general.lines.push_back(std::move(walk));
  LayoutPage tree = page("TabTree", k_txt_btree_tree_tab);
  tree.shown = false;
  tree.btree_display = true;
  l.pages.push_back(std::move(general));
  l.pages.push_back(std::move(tree));
  l.page_focus = {"go_racine", ""};
  return l;
}

ViewerLayout node_layout(const StructureView& v, bool leaf) {
  ViewerLayout l = frame(leaf ? "TSectND" : "TBranche", v, "Classeur");
  LayoutPage general = page("TabND1", k_txt_btree_general);
  add_fields(general, v,
             {{k_txt_node_kind, "type"}, {k_txt_node_level, "niveau"}, {k_txt_node_records, "nbrub"},
              {k_txt_node_backward, "amont", "go_amont"}, {k_txt_node_forward, "aval", "go_aval"}});
  l.pages.push_back(std::move(general));
  const char* first = leaf ? "go_aval" : "go_amont";
  const char* second = leaf ? "go_amont" : "go_aval";
  const LayoutButton* b = nullptr;
  for (const LayoutLine& line : l.pages[0].lines)
    for (const LayoutButton& x : line.buttons)
      if (x.name == first && x.enabled()) b = &x;
  l.page_focus = {b ? first : second};
  if (!v.column_ids.empty()) {
    LayoutPage p = page("TabND2", leaf ? k_txt_leaf_list : k_txt_index_list);
    p.has_list = true;
    p.list = leaf ? list_of("ListeFichiers", v, {100, 40, 70, 80}, {false, true, true, true}, true)
                  : list_of("ListeFichiers", v, {100, 70, 70}, {false, true, true});
    l.pages.push_back(std::move(p));
    l.page_focus.push_back("");
  }
  return l;
}

// --- ISO 9660 ------------------------------------------------------------------------------------
ViewerLayout iso_descriptor_layout(const StructureView& v) {
  ViewerLayout l = single_page("TSectISO", v, "Panel1",
                               {{3267, "sysid"}, {3268, "volid"}, {3269, "long"}, {3270, "lgpath"},
                                {3271, "pthtab", "go_pthtab"}, {3272, "pthtab2", "go_pthtab2"},
                                {3273, "root", "go_root"}});
  l.page_focus = {"go_root"};
  return l;
}

ViewerLayout iso_list_layout(const char* form, const StructureView& v) {
  ViewerLayout l = frame(form, v, "Panel2");
  LayoutPage p = page("Panel2", v.title_id);
  p.has_list = true;
  p.list = list_of("ListeFichiers", v, {100, 70, 70}, {false, true, true});
  l.pages.push_back(std::move(p));
  return l;
}

// --- PC structures -------------------------------------------------------------------------------
ViewerLayout mbr_layout(const StructureView& v) {
  ViewerLayout l = single_page("TMBR", v, "Panel1", {{3713, "sign"}});
  l.pages[0].has_list = true;
  l.pages[0].list = list_of("ListePart", v, {100, 70, 120}, {false, true, true});
  return l;
}

ViewerLayout boot_layout(const StructureView& v) {
  ViewerLayout l = frame("TBoot", v, "Classeur");
  LayoutPage general = page("TabBoot1", 3746);
  add_fields(general, v, {{3748, "nbsect"}, {3749, "nbos"}, {3750, "nbphys"}, {3751, "nbsfat"},
                          {3752, "racine", "go_racine"}, {3753, "numserie"}, {3754, "label"}, {3755, "typef"}});
  LayoutPage tech = page("TabBoot2", 3747);
  add_fields(tech, v, {{3756, "OEM"}, {3757, "nbsg"}, {3758, "nbfat"}, {3759, "nbrub"}, {3760, "type"},
                       {3761, "nbfaces"}, {3762, "nbpiste"}, {3763, "nbhiden"}});
  l.pages.push_back(std::move(general));
  l.pages.push_back(std::move(tech));
  l.page_focus = {"go_racine", ""};
  return l;
}

// --- Macintosh file headers ------------------------------------------------------------------
ViewerLayout file_header_layout(const char* form, const StructureView& v) {
  ViewerLayout l = single_page(form, v, "Panel1",
                               {{3321, "fnom"}, {3322, "type"}, {3323, "crea"}, {3324, "data", "GoD"},
                                {3325, "lgdata"}, {3326, "ress", "GoR"}, {3327, "lgress"}});
  l.page_focus = {"GoR"};
  return l;
}

// --- GUID Partition Table --------------------------------------------------------------------
ViewerLayout gpt_header_layout(const StructureView& v) {
  ViewerLayout l = single_page("Tefi", v, "Panel",
                               {{3781, "sign"}, {3782, "revision"}, {3783, "sztete"}, {3784, "crctete"},
                                {3785, "mylba"}, {3786, "premlba"}, {3787, "dernlba"}, {3788, "diskguid"},
                                {3789, "partlba", "go_racine", k_button_gpt_entries}, {3790, "nbpart"},
                                {3791, "szpart"}, {3792, "crcpart"}});
  l.page_focus = {"go_racine"};
  return l;
}

}  // namespace

ViewerLayout gpt_entries_layout(const StructureView& v) {
  ViewerLayout l = frame("Tgptguid", v, "Page");
  static const char* const k_buttons[] = {"lba1", "lab2", "lba3", "lab4", "lab5", "lab6"};
  static const std::pair<int, const char*> k_words[] = {{3794, "guid1"}, {3795, "guid2"}, {3796, "lbadeb"},
                                                         {3797, "lbafin"}, {3798, "nompart"}, {3799, "partclair"}};
  for (size_t k = 0; k < v.tree.size() && k < 6; ++k) {
    const ViewTreeNode& node = v.tree[k];
    std::string n = std::to_string(k + 1);
    LayoutPage p = page_named("Tab" + n, node.text);
    for (const ViewTreeNode& c : node.children) {
      const char* word = nullptr;
      for (const auto& [id, w] : k_words)
        if (id == c.caption_id) word = w;
      if (!word) continue;
      LayoutLine line{{pair(word + n, c.caption_id, c.value)}, {}};
      if (c.caption_id == 3796) line.buttons.push_back(LayoutButton{k_buttons[k], go_caption(), c.go_sector});
      p.lines.push_back(std::move(line));
    }
    l.pages.push_back(std::move(p));
    l.page_focus.push_back(k_buttons[k]);
  }
  return l;
}

ViewerLayout viewer_layout(SectorKind kind, int access_mode, const StructureView& view) {
  bool single = access_mode == 1 || access_mode == 3;
  switch (kind) {
    case k_kind_hfsplus_header: return hfsplus_header_layout(view);
    case k_kind_mdb: return mdb_layout(view);
    case k_kind_driver_descriptor: return single ? driver_descriptor_layout(view) : medium_headers_layout(view);
    case k_kind_partition_map: return single ? partition_map_layout(view) : medium_headers_layout(view);
    case k_kind_btree_header: return btree_header_layout(view);
    case k_kind_btree_leaf: return node_layout(view, true);
    case k_kind_btree_index: return node_layout(view, false);
    case k_kind_iso_descriptor: return iso_descriptor_layout(view);
    case k_kind_iso_path_table: return iso_list_layout("TPathISO", view);
    case k_kind_iso_directory: return iso_list_layout("TRepISO", view);
    case k_kind_mbr: return mbr_layout(view);
    case k_kind_boot_sector: return boot_layout(view);
    case k_kind_macbinary: return file_header_layout("TMacBin", view);
    case k_kind_applesingle: return file_header_layout("TAS", view);
    case k_kind_appledouble: return file_header_layout("TAD", view);
    case k_kind_gpt_header: return gpt_header_layout(view);
    case k_kind_gpt_entries: return gpt_entries_layout(view);
    default: break;
  }
  ViewerLayout l;
  l.messages = view.messages;
  return l;
}

std::vector<const LayoutButton*> layout_buttons(const ViewerLayout& layout) {
  std::vector<const LayoutButton*> out;
  for (const LayoutPage& p : layout.pages)
    for (const LayoutLine& line : p.lines)
      for (const LayoutButton& b : line.buttons) out.push_back(&b);
  for (const LayoutButton& b : layout.side_buttons) out.push_back(&b);
  return out;
}

std::string layout_value(const ViewerLayout& layout, const std::string& value_name) {
  for (const LayoutPage& p : layout.pages)
    for (const LayoutLine& line : p.lines)
      for (const LayoutPair& pr : line.pairs)
        if (pr.value_name == value_name) return pr.value;
  return "";
}

const LayoutButton* layout_button(const ViewerLayout& layout, const std::string& name) {
  for (const LayoutButton* b : layout_buttons(layout))
    if (b->name == name) return b;
  return nullptr;
}
