// The viewers' layouts over the images stored on a volume, dumped as forks:
// the names of their captions, values and go buttons, and where each go
// button leads: followed from the volume header, the buttons walk into the
// catalog's header node, its root and its leaves, each identified as such.
#include <gtest/gtest.h>

#include <set>

#include "IO/uitext.h"
#include "dump_images.h"
#include "gui/inspector/btree_view.h"
#include "gui/inspector/decoders.h"
#include "gui/inspector/sectorkind.h"
#include "gui/inspector/viewer_layout.h"

using namespace testkit;

namespace {

// A fork of a stored image and what the dump's analyze command makes of a sector.
struct Analyzed {
  SectorKind kind = k_kind_unknown;
  StructureView view;
  ViewerLayout layout;
};

class ViewerLayouts : public dumpimg::NestedImagesTest {
 protected:

  void open(const std::string& name) {
    DumpFile f;
    ASSERT_TRUE(dumpimg::open_file(name, f)) << name;
    session = std::make_unique<DumpSession>(f, volume_medium_reader());
    ASSERT_TRUE(session->select_fork(k_fork_data_view));
  }
  // The kind may be forced (the viewers the identifier never names).
  Analyzed analyze(int64_t sector, SectorKind forced = k_kind_unknown, int access_mode = 3) {
    Analyzed a;
    uint8_t buf[512];
    int64_t abs;
    EXPECT_EQ(session->show(uint64_t(sector), buf, abs), 0) << sector;
    std::span<const uint8_t> s(buf, 512);
    a.kind = forced ? forced : identify_sector(s, sector, session->inspector);
    a.view = decode_sector(a.kind, access_mode, s, sector, session->inspector, session->fork_reader());
    a.layout = viewer_layout(a.kind, access_mode, a.view);
    return a;
  }
  int64_t button(const Analyzed& a, const std::string& name) {
    const LayoutButton* b = layout_button(a.layout, name);
    EXPECT_NE(b, nullptr) << name;
    return b ? b->sector : -2;
  }
  std::unique_ptr<DumpSession> session;
};

std::vector<std::string> page_names(const ViewerLayout& l) {
  std::vector<std::string> out;
  for (const LayoutPage& p : l.pages) out.push_back(p.name);
  return out;
}

}  // namespace

TEST_F(ViewerLayouts, FromTheVolumeHeaderIntoTheCatalog) {
  open("plus.img");
  Analyzed vh = analyze(66);
  ASSERT_EQ(vh.kind, k_kind_hfsplus_header);
  EXPECT_EQ(vh.layout.form_name, "TSectHPP");
  EXPECT_EQ(vh.layout.title, ui_text(3234));
  // No attributes or startup file: their pages and side buttons are left out.
  EXPECT_EQ(page_names(vh.layout), (std::vector<std::string>{"TabHPP1", "TabHPP2", "TabHPP3", "TabHPP4"}));
  ASSERT_EQ(vh.layout.side_buttons.size(), 3u);
  EXPECT_EQ(vh.layout.side_buttons[2].name, "but_tab4");
  EXPECT_EQ(layout_value(vh.layout, "cont_sign"), "H+");
  EXPECT_EQ(layout_value(vh.layout, "cont_nbfic"), "201");
  const LayoutPage& cat = vh.layout.pages[3];
  EXPECT_EQ(cat.caption, ui_text(3250));
  EXPECT_EQ(cat.lines[0].pairs[0].caption_name, "text_tcat");
  EXPECT_EQ(cat.lines[1].pairs[0].caption_name, "text_cat");
  EXPECT_EQ(cat.lines[2].pairs[1].value_name, "cont_poscat1");
  EXPECT_EQ(cat.lines.size(), 10u);  // size, heading, eight extents
  EXPECT_EQ(button(vh, "go_poscat2"), -1);  // an empty extent: disabled
  EXPECT_EQ(vh.layout.page_focus[3], "go_poscat1");

  // The catalog's first extent is its header node...
  int64_t header = button(vh, "go_poscat1");
  EXPECT_EQ(button(vh, "but_tab4"), header);
  Analyzed h = analyze(header);
  ASSERT_EQ(h.kind, k_kind_btree_header);
  EXPECT_EQ(h.layout.pages_name, "PCB");
  EXPECT_EQ(page_names(h.layout), (std::vector<std::string>{"TabGen", "TabTree"}));
  EXPECT_FALSE(h.layout.pages[1].shown);
  EXPECT_TRUE(h.layout.pages[1].btree_display);
  ASSERT_NE(layout_button(h.layout, "AffTree"), nullptr);
  EXPECT_EQ(layout_button(h.layout, "AffTree")->action, k_button_display_tree);
  EXPECT_EQ(button(h, "go_topo"), -1);  // no map node
  EXPECT_EQ(layout_value(h.layout, "cont_taille"), "4096");

  // ...whose root is an index node listing the leaves...
  Analyzed root = analyze(button(h, "go_racine"));
  ASSERT_EQ(root.kind, k_kind_btree_index);
  EXPECT_EQ(root.layout.form_name, "TBranche");
  ASSERT_EQ(root.layout.pages.size(), 2u);
  const LayoutList& index = root.layout.pages[1].list;
  EXPECT_EQ(index.columns, (std::vector<std::string>{ui_text(3879), ui_text(3880), ui_text(3881)}));
  ASSERT_GE(index.rows.size(), 2u);
  EXPECT_EQ(root.layout.page_focus[0], "go_aval");  // the root has no left neighbour

  // ...and the first leaf, whose neighbour is the second.
  Analyzed first = analyze(index.rows[0].go_sector);
  ASSERT_EQ(first.kind, k_kind_btree_leaf);
  EXPECT_EQ(first.layout.form_name, "TSectND");
  EXPECT_EQ(button(first, "go_amont"), -1);
  EXPECT_EQ(button(first, "go_aval"), index.rows[1].go_sector);
  EXPECT_TRUE(first.layout.pages[1].list.images);
  EXPECT_EQ(first.layout.pages[1].list.columns.size(), 4u);
  EXPECT_EQ(layout_value(first.layout, "cont_niveau"), "1");
}

TEST_F(ViewerLayouts, MasterDirectoryBlockAndItsSmallNodes) {
  open("hfs.img");
  Analyzed mdb = analyze(2);
  ASSERT_EQ(mdb.kind, k_kind_mdb);
  EXPECT_EQ(page_names(mdb.layout), (std::vector<std::string>{"TabBD1", "TabBD2", "TabBD3", "TabBD4"}));
  EXPECT_EQ(layout_value(mdb.layout, "cont_label"), "Inner");
  EXPECT_EQ(mdb.layout.pages[2].lines[0].pairs[0].caption_name, "text_text");
  EXPECT_EQ(mdb.layout.pages[2].lines[1].pairs[0].caption_name, "text_extext");
  EXPECT_EQ(mdb.layout.pages[3].lines[1].pairs[0].caption_name, "text_extcat");
  EXPECT_EQ(mdb.layout.side_buttons[1].name, "but_tab4");
  Analyzed h = analyze(button(mdb, "go_poscat1"));
  ASSERT_EQ(h.kind, k_kind_btree_header);
  EXPECT_EQ(layout_value(h.layout, "cont_taille"), "512");
  Analyzed leaf = analyze(button(h, "go_prem"));
  ASSERT_EQ(leaf.kind, k_kind_btree_leaf);
  // The root's folder thread and the two files copied in.
  std::set<std::string> names;
  for (const ViewRow& row : leaf.layout.pages[1].list.rows) names.insert(row.cells[1]);
  EXPECT_TRUE(names.count("ReadMe") && names.count("Three") && names.count("Inner")) << names.size();
}

TEST_F(ViewerLayouts, IsoPartitionMapAndPcViewers) {
  open("hyb.iso");
  Analyzed pvd = analyze(64);
  ASSERT_EQ(pvd.kind, k_kind_iso_descriptor);
  EXPECT_EQ(pvd.layout.form_name, "TSectISO");
  EXPECT_EQ(layout_value(pvd.layout, "cont_volid"), "HYB");
  Analyzed table = analyze(button(pvd, "go_pthtab"));
  ASSERT_EQ(table.kind, k_kind_iso_path_table);
  EXPECT_EQ(table.layout.pages[0].list.name, "ListeFichiers");
  Analyzed dir = analyze(button(pvd, "go_root"));
  ASSERT_EQ(dir.kind, k_kind_iso_directory);
  EXPECT_EQ(dir.layout.form_name, "TRepISO");

  // genisoimage's map: the driver descriptor, then one entry per block.
  Analyzed er = analyze(0);
  ASSERT_EQ(er.kind, k_kind_driver_descriptor);
  EXPECT_EQ(er.layout.form_name, "TSectER");
  Analyzed pm1 = analyze(1);
  ASSERT_EQ(pm1.kind, k_kind_partition_map);
  EXPECT_EQ(layout_button(pm1.layout, "But_Altern"), nullptr);  // shown from sector 1
  EXPECT_EQ(button(pm1, "Go"), -1);
  Analyzed pm2 = analyze(2);
  EXPECT_EQ(layout_value(pm2.layout, "cont_type"), "Apple_HFS");
  int64_t hfs = button(pm2, "Go");
  EXPECT_EQ(button(pm2, "Go2"), hfs + 2);
  EXPECT_EQ(analyze(hfs + 2).kind, k_kind_mdb);
  // Read by a drive (no image file): the four blocks of a CD sector on one form.
  Analyzed four = analyze(0, k_kind_unknown, 0);
  EXPECT_EQ(four.layout.form_name, "TTeteMac");
  ASSERT_GE(four.layout.pages.size(), 2u);
  EXPECT_EQ(four.layout.pages[0].name, "TabND1");
  EXPECT_EQ(four.layout.pages[1].lines[2].pairs[0].value_name, "ct13");
  EXPECT_EQ(four.layout.pages[1].lines[2].buttons[0].name, "Go11");

  open("mbr.img");
  Analyzed mbr = analyze(0);
  ASSERT_EQ(mbr.kind, k_kind_mbr);
  ASSERT_EQ(mbr.layout.pages[0].list.rows.size(), 2u);
  EXPECT_EQ(mbr.layout.pages[0].list.name, "ListePart");
  Analyzed boot = analyze(mbr.layout.pages[0].list.rows[0].go_sector);
  ASSERT_EQ(boot.kind, k_kind_boot_sector);
  EXPECT_EQ(page_names(boot.layout), (std::vector<std::string>{"TabBoot1", "TabBoot2"}));
  EXPECT_EQ(layout_value(boot.layout, "cont_label"), "LABEL16");
  EXPECT_EQ(button(boot, "go_racine"), std::stoll(layout_value(boot.layout, "cont_racine")));
  EXPECT_EQ(analyze(button(boot, "go_racine")).kind, k_kind_unknown);  // the root directory's entries

  open("gpt.img");
  Analyzed gpt = analyze(1, k_kind_gpt_header);
  EXPECT_EQ(gpt.layout.form_name, "Tefi");
  const LayoutButton* entries = layout_button(gpt.layout, "go_racine");
  ASSERT_NE(entries, nullptr);
  EXPECT_EQ(entries->action, k_button_gpt_entries);
  EXPECT_EQ(entries->sector, 2);
  uint8_t buf[512];
  int64_t abs;
  ASSERT_EQ(session->show(2, buf, abs), 0);
  ViewerLayout parts = gpt_entries_layout(
      decode_gpt_entries_view(std::span<const uint8_t>(buf, 512), 2, session->inspector, session->fork_reader()));
  EXPECT_EQ(parts.form_name, "Tgptguid");
  ASSERT_EQ(page_names(parts), (std::vector<std::string>{"Tab1", "Tab2"}));
  EXPECT_EQ(layout_value(parts, "cont_nompart1"), "Mac HD");
  EXPECT_EQ(layout_value(parts, "cont_partclair1"), "HFS");
  EXPECT_EQ(layout_value(parts, "cont_partclair2"), "");  // not an Apple type: no line
  EXPECT_EQ(layout_button(parts, "lab2")->sector, std::stoll(layout_value(parts, "cont_lbadeb2")));

  // A MacBinary file kept whole, shown through the header viewer by its kind.
  open("mb.dat");
  Analyzed mb = analyze(0, k_kind_macbinary);
  EXPECT_EQ(mb.layout.form_name, "TMacBin");
  EXPECT_EQ(layout_value(mb.layout, "cont_fnom"), "MB");
  EXPECT_EQ(button(mb, "GoR"), 1);  // 128 + 768 bytes in: sector 1
}
