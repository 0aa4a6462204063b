#include "gui/menumodel.h"

#include <cstring>

namespace {

using K = ItemKind;
constexpr unsigned P = k_in_project, T = k_in_partition, I = k_in_isoplus, A = k_in_all;

const std::vector<CommandDef> k_commands = {
    // Project Mode's menu.
    {"Projets1", nullptr, K::menu, 2000, 2200, 2000, P},
    {"Nouveau1", "Projets1", K::item, 2001, 2201, 2001, P},
    {"Ouvrir1", "Projets1", K::item, 2002, 2202, 2002, P},
    {"Enregistrer1", "Projets1", K::item, 2003, 2203, 2003, P},
    {"EnregistrerAs1", "Projets1", K::item, 2004, 2204, 2004, P},
    {"Fermer1", "Projets1", K::item, 2007, 2207, 2005, P},
    {"-p1", "Projets1", K::separator, 0, 0, 0, P},
    {"Compil1", "Projets1", K::item, 2005, 2205, 2006, P},
    {"Info1", "Projets1", K::item, 2009, 2209, 2007, P},
    {"Label", "Projets1", K::item, 2010, 2210, 2008, P},
    {"-p2", "Projets1", K::separator, 0, 0, 0, P},
    {"Reop1", "Projets1", K::menu, 2008, 2208, 2009, P},
    {"P1", "Projets1", K::item, 2011, 2211, 0, P},
    {"-p3", "Projets1", K::separator, 0, 0, 0, P},
    {"Quitter1", "Projets1", K::item, 2006, 2206, 2010, P},
    // Partition Mode's menu.
    {"Partitions1", nullptr, K::menu, 2015, 2215, 2020, T},
    {"Nouvelle1", "Partitions1", K::item, 2016, 2216, 2021, T},
    {"Ouvrir2", "Partitions1", K::item, 2017, 2217, 2022, T},
    {"Enr2", "Partitions1", K::item, 2018, 2218, 2023, T},
    {"EnrAs2", "Partitions1", K::item, 2019, 2219, 2024, T},
    {"Fermer2", "Partitions1", K::item, 2024, 2224, 2025, T},
    {"-t1", "Partitions1", K::separator, 0, 0, 0, T},
    {"Hybrid1", "Partitions1", K::item, 2020, 2220, 2026, T},
    {"PropVol1", "Partitions1", K::item, 2023, 2223, 2029, T},
    {"-t2", "Partitions1", K::separator, 0, 0, 0, T},
    {"Reop2", "Partitions1", K::menu, 2025, 2225, 2030, T},
    {"P2", "Partitions1", K::item, 2026, 2226, 0, T},
    {"-t3", "Partitions1", K::separator, 0, 0, 0, T},
    {"Q21", "Partitions1", K::item, 2006, 2206, 2031, T},
    // ISO+ Mode's menu.
    {"IsoPlus1", nullptr, K::menu, 2030, 2230, 2080, I},
    {"No1", "IsoPlus1", K::item, 2031, 2231, 2081, I},
    {"Ou1", "IsoPlus1", K::item, 2032, 2232, 2082, I},
    {"En1", "IsoPlus1", K::item, 2033, 2233, 2083, I},
    {"Sa1", "IsoPlus1", K::item, 2034, 2234, 2084, I},
    {"Fe1", "IsoPlus1", K::item, 2035, 2235, 2085, I},
    {"-i1", "IsoPlus1", K::separator, 0, 0, 0, I},
    {"CompISOP", "IsoPlus1", K::item, 2036, 2236, 2086, I},
    {"In1", "IsoPlus1", K::item, 2037, 2237, 2087, I},
    {"La1", "IsoPlus1", K::item, 2038, 2238, 2088, I},
    {"-i2", "IsoPlus1", K::separator, 0, 0, 0, I},
    {"Re1", "IsoPlus1", K::menu, 2039, 2239, 2089, I},
    {"P3", "IsoPlus1", K::item, 2041, 2241, 0, I},
    {"-i3", "IsoPlus1", K::separator, 0, 0, 0, I},
    {"Qu1", "IsoPlus1", K::item, 2040, 2240, 2090, I},
    // Files of the project or the volume.
    {"Fichiers", nullptr, K::menu, 2045, 2245, 2100, A},
    {"Supp1", "Fichiers", K::item, 2046, 2246, 2011, A},
    {"Ren", "Fichiers", K::item, 2047, 2247, 2012, A},
    {"Prop1", "Fichiers", K::item, 2048, 2248, 2013, P | I},
    {"AttrPart", "Fichiers", K::item, 2053, 2253, 2038, T},
    {"Aff1", "Fichiers", K::item, 2052, 2252, 2037, T},
    {"Rech1", "Fichiers", K::item, 2054, 2254, 2039, A},
    {"-f1", "Fichiers", K::separator, 0, 0, 0, T},
    {"MPC1", "Fichiers", K::item, 2049, 2249, 2032, T},
    {"PCM1", "Fichiers", K::item, 2050, 2250, 2033, T},
    {"-f2", "Fichiers", K::separator, 0, 0, 0, T},
    {"MD", "Fichiers", K::item, 2051, 2251, 2036, A},
    {"DrExpl", "Fichiers", K::item, 2055, 2255, 0, A},
    {"-f3", "Fichiers", K::separator, 0, 0, 0, A},
    {"SAll", "Fichiers", K::item, 2057, 2257, 2101, A},
    {"Inv", "Fichiers", K::item, 2058, 2258, 2102, A},
    {"RSig", "Fichiers", K::item, 2059, 2259, 0, P | I},
    // Special commands.
    {"Special1", nullptr, K::menu, 2060, 2260, 2041, A},
    {"Refr", "Special1", K::item, 2064, 2264, 2044, P | I},
    {"Clean1", "Special1", K::item, 2063, 2263, 0, P | I},
    {"RFT", "Special1", K::item, 2065, 2265, 2048, A},
    {"DelExt", "Special1", K::item, 2066, 2266, 2049, P},
    {"Path1", "Special1", K::item, 2068, 2268, 2051, P | I},
    {"EdIcon", "Special1", K::item, 2069, 2269, 0, A},
    {"Desh1", "Special1", K::item, 2071, 2271, 0, T},
    {"dsstor", "Special1", K::item, 2072, 2272, 0, P},
    // Options.
    {"Options1", nullptr, K::menu, 2080, 2280, 2060, A},
    {"Proj1", "Options1", K::menu, 2081, 2281, 2061, A},
    {"MProj", "Proj1", K::radio, 1274, 0, 0, A},
    {"MPart", "Proj1", K::radio, 1275, 0, 0, A},
    {"MIsop", "Proj1", K::radio, 1276, 0, 0, A},
    {"Maff1", "Options1", K::menu, 2082, 2282, 2062, P},
    {"VI1", "Maff1", K::radio, 1270, 0, 0, P},
    {"VH1", "Maff1", K::radio, 1271, 0, 0, P},
    {"VM1", "Maff1", K::radio, 1272, 0, 0, P},
    {"Mod", "Options1", K::menu, 2087, 2287, 2063, T},
    {"Da", "Mod", K::radio, 2120, 0, 0, T},
    {"Re", "Mod", K::radio, 2121, 0, 0, T},
    {"Bo", "Mod", K::radio, 2122, 0, 0, T},
    {"Ad", "Mod", K::radio, 2123, 0, 0, T},
    {"As", "Mod", K::radio, 2124, 0, 0, T},
    {"Langue1", "Options1", K::menu, 2083, 2283, 2065, A},
    {"En2", "Langue1", K::radio, 1267, 0, 0, A},
    {"Fr1", "Langue1", K::radio, 1268, 0, 0, A},
    {"-o1", "Options1", K::separator, 0, 0, 0, A},
    {"Explo1", "Options1", K::item, 2084, 2284, 2045, A},
    {"Registre1", "Options1", K::item, 2085, 2285, 2046, A},
    {"Sign1", "Options1", K::item, 2086, 2286, 2047, A},
    {"SW1", "Options1", K::item, 2088, 2288, 2064, T},
    {"Log1", "Options1", K::item, 2089, 2289, 0, A},
    {"Col", "Options1", K::item, 2090, 2290, 2067, A},
    {"Pref1", "Options1", K::item, 2091, 2291, 0, A},
    {"CachBarre", "Options1", K::check, 2092, 2292, 0, A},
    // Help.
    {"Aide1", nullptr, K::menu, 2100, 2300, 2070, A},
    {"AideUtil1", "Aide1", K::item, 2103, 2303, 2073, A},
    {"HI", "Aide1", K::item, 2105, 2305, 2072, A},
    {"HS", "Aide1", K::item, 2106, 2309, 2072, A},
    {"HH1", "Aide1", K::item, 2102, 2302, 2072, A},
    {"WH1", "Aide1", K::item, 2104, 2304, 2074, A},
    {"-h1", "Aide1", K::separator, 0, 0, 0, A},
    {"Aproposde1", "Aide1", K::item, 2101, 2301, 2071, A},
};

// Tool buttons with no menu twin get ids after the menu commands.
const std::vector<ToolDef> k_tools = {
    {"DelProj", 0, 2313, "Supp1"},   {"PereProj", 0, 2314, nullptr}, {"ModeVue", 0, 2317, nullptr},
    {"CompProj", 0, 2319, "Compil1"}, {"RechProj", 0, 2312, "Rech1"}, {"MkDirProj", 0, 2320, "MD"},
    {"WizProj", 0, 2321, "Prop1"},   {"HelpProj", 0, 2315, nullptr},
    {"Mac2PC", 1, 2310, "MPC1"},     {"PC2Mac", 1, 2311, "PCM1"},    {"DelPart", 1, 2313, "Supp1"},
    {"PerePart", 1, 2314, nullptr},  {"RechPart", 1, 2312, "Rech1"}, {"MkDirPart", 1, 2320, "MD"},
    {"WizPart", 1, 2321, "AttrPart"}, {"HelpPart", 1, 2315, nullptr},
    {"DelIso", 2, 2313, "Supp1"},    {"PereIso", 2, 2314, nullptr},  {"CompIso", 2, 2319, "CompISOP"},
    {"RechIso", 2, 2312, "Rech1"},   {"MkDirIso", 2, 2320, "MD"},    {"WizIso", 2, 2321, "Prop1"},
    {"HelpIso", 2, 2315, nullptr},
};

bool is(const CommandDef& c, const char* name) { return std::strcmp(c.name, name) == 0; }

bool in_list(const char* name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (std::strcmp(name, n) == 0) return true;
  return false;
}

// The compile commands that turn into the abort command while a compile runs.
bool is_compile_command(const char* name) { return in_list(name, {"Compil1", "CompISOP", "CompProj", "CompIso"}); }

// Commands that read or write the document (or the volume): they need one,
// and none of them may run while the compile owns the engine.
bool needs_document(const char* name) {
  return in_list(name, {"Enregistrer1", "EnregistrerAs1", "Fermer1", "Compil1", "Info1", "Label", "P1",
                        "Enr2", "EnrAs2", "Fermer2", "PropVol1", "P2", "En1", "Sa1", "Fe1", "CompISOP", "In1",
                        "La1", "P3", "Supp1", "Ren", "Prop1", "AttrPart", "Aff1", "Rech1", "MPC1", "PCM1", "MD",
                        "DrExpl", "SAll", "Inv", "RSig", "Refr", "Clean1", "DelExt", "Path1", "dsstor", "SW1",
                        "DelProj", "PereProj", "CompProj", "RechProj", "MkDirProj", "WizProj", "Mac2PC", "PC2Mac",
                        "DelPart", "PerePart", "RechPart", "MkDirPart", "WizPart", "DelIso", "PereIso", "CompIso",
                        "RechIso", "MkDirIso", "WizIso"});
}

// What stays usable while a compile runs: the abort command, help, and the menus that hold them.
bool usable_while_compiling(const char* name) {
  return is_compile_command(name) ||
         in_list(name, {"Projets1", "IsoPlus1", "Aide1", "AideUtil1", "HI", "HS", "HH1", "WH1", "Aproposde1",
                        "HelpProj", "HelpPart", "HelpIso"});
}

// Commands that act on the selection of the view used last.
bool needs_selection(const char* name) {
  return in_list(name, {"Supp1", "Ren", "Prop1", "AttrPart", "MPC1", "WizProj", "WizPart", "WizIso"});
}

bool selection_in_last_view(const UiState& s) { return s.popup_source ? s.list_selected > 0 : s.tree_selected; }

bool enabled_by_name(const char* name, const UiState& s) {
  if (s.compile_running) return usable_while_compiling(name);
  if (needs_document(name) && !s.has_document) return false;
  if (s.read_only && (s.mode == 1 ? is_edit_command(name) : is_project_edit_command(name))) return false;
  // The scratch project has no name of its own to save under; Save As gives it one.
  if ((std::strcmp(name, "Enregistrer1") == 0 || std::strcmp(name, "En1") == 0) && s.is_scratch) return false;
  if (std::strcmp(name, "Reop1") == 0) return s.recent[0];
  if (std::strcmp(name, "Reop2") == 0) return s.recent[1];
  if (std::strcmp(name, "Re1") == 0) return s.recent[2];
  if (std::strcmp(name, "Hybrid1") == 0) return s.has_document && s.can_hybridise;
  if (needs_selection(name) && !selection_in_last_view(s)) return false;
  // Display works on files of the list; the root can be neither deleted nor copied as an item.
  if (std::strcmp(name, "Aff1") == 0) return s.list_selected > 0;
  if (std::strcmp(name, "Supp1") == 0 && s.popup_source == 0 && s.tree_root_selected) return false;
  if (in_list(name, {"DelProj", "DelIso"}))
    return s.list_selected > 0 || (s.tree_selected && !s.tree_root_selected);
  if (in_list(name, {"DelPart", "Mac2PC"})) return s.list_selected > 0;
  if (in_list(name, {"PereProj", "PerePart", "PereIso"})) return !s.at_root;
  if (std::strcmp(name, "DrExpl") == 0) return s.clipboard_files;
  return true;
}

}  // namespace

const std::vector<CommandDef>& menu_commands() { return k_commands; }
const std::vector<ToolDef>& tool_buttons() { return k_tools; }

int command_index(const std::string& name) {
  for (size_t i = 0; i < k_commands.size(); ++i)
    if (name == k_commands[i].name) return int(i);
  return -1;
}

int command_id(const std::string& name) {
  int i = command_index(name);
  if (i >= 0) return k_first_command_id + i;
  for (size_t t = 0; t < k_tools.size(); ++t)
    if (name == k_tools[t].name) return tool_id(k_tools[t]);
  return -1;
}

int tool_id(const ToolDef& tool) {
  if (tool.command) return command_id(tool.command);
  return k_first_command_id + int(k_commands.size()) + int(&tool - k_tools.data());
}

std::string command_name(int id) {
  int i = id - k_first_command_id;
  if (i >= 0 && i < int(k_commands.size())) return k_commands[size_t(i)].name;
  int t = i - int(k_commands.size());
  if (t >= 0 && t < int(k_tools.size())) return k_tools[size_t(t)].name;
  return std::string();
}

bool command_visible(const CommandDef& c, const UiState& s) {
  return s.mode >= 0 && s.mode <= 2 && (c.modes & (1u << s.mode)) != 0;
}

bool command_enabled(const CommandDef& c, const UiState& s) {
  if (c.kind == ItemKind::separator) return true;
  return enabled_by_name(c.name, s);
}

bool tool_enabled(const ToolDef& t, const UiState& s) { return enabled_by_name(t.name, s); }

bool command_checked(const CommandDef& c, const UiState& s) {
  if (is(c, "MProj")) return s.mode == 0;
  if (is(c, "MPart")) return s.mode == 1;
  if (is(c, "MIsop")) return s.mode == 2;
  if (is(c, "VI1")) return s.name_view == 0;
  if (is(c, "VH1")) return s.name_view == 1;
  if (is(c, "VM1")) return s.name_view == 2;
  // The copy method's mark: 1 data fork, 2 resource fork, 4 MacBinary, 8
  // AppleDouble, 32 AppleSingle; any other value (font bits aside) marks none.
  const int method = s.copy_method & 0x2F;
  if (is(c, "Da")) return method == 1;
  if (is(c, "Re")) return method == 2;
  if (is(c, "Bo")) return method == 4;
  if (is(c, "Ad")) return method == 8;
  if (is(c, "As")) return method == 32;
  return false;
}

int command_caption(const CommandDef& c, const UiState& s) {
  if (s.compile_running && is_compile_command(c.name)) return 2098;
  return c.caption;
}

const char* command_shortcut(const std::string& name) {
  static const struct {
    const char* name;
    const char* key;
  } k_keys[] = {{"Supp1", "Del"}, {"SAll", "Ctrl+A"}, {"DrExpl", "Ctrl+V"}, {"MD", "Ctrl+N"}, {"AideUtil1", "F1"}};
  for (const auto& k : k_keys)
    if (name == k.name) return k.key;
  return "";
}

int help_command_topic(const std::string& name) {
  if (name == "HH1") return 1098;
  if (in_list(name.c_str(), {"AideUtil1", "HelpProj", "HelpPart", "HelpIso"})) return 1099;
  return 0;
}

int copy_method_of(const std::string& item) {
  static const struct {
    const char* name;
    int method;
  } k_methods[] = {{"Da", 1}, {"Re", 2}, {"Bo", 4}, {"Ad", 8}, {"As", 32}};
  for (const auto& m : k_methods)
    if (item == m.name) return m.method;
  return 0;
}

int copy_method_question(const std::string& item, int current_method) {
  int method = copy_method_of(item);
  if (method <= 1 || method == (current_method & 0x2F)) return 0;
  return method == 2 ? 6750 : method == 4 ? 6751 : method == 8 ? 6752 : 6753;
}

int mode_status_text(int mode, int name_view) {
  switch (mode) {
    case 0:
      return name_view == 0 ? 1012 : name_view == 1 ? 1013 : name_view == 2 ? 1014 : 0;
    case 1:
      return 1113;
    case 2:
      return 1277;
    default:
      return 0;
  }
}

bool hint_to_status_bar(const std::string& hint, std::string& shown) {
  if (!hint.empty() && hint[0] == '.') {
    shown = hint.substr(1);
    return true;
  }
  shown = hint;
  return false;
}

int help_topic(int topic, int language_offset) { return topic + language_offset; }

int form_help_topic(const std::string& form_name) {
  static const struct {
    const char* name;
    int topic;
  } k_forms[] = {{"TMessOK", 105}, {"TMessAnn", 106}, {"TMessON", 107}, {"TMessONT", 108}, {"LogFile", 152}};
  for (const auto& f : k_forms)
    if (form_name == f.name) return f.topic;
  return 0;
}

bool is_edit_command(const std::string& name) {
  static const char* const k_edits[] = {"Enr2", "EnrAs2", "Supp1", "Ren", "PCM1", "MD", "DrExpl", "SW1",
                                        "DelPart", "PC2Mac", "MkDirPart", "NomVol1"};
  for (const char* e : k_edits)
    if (name == e) return true;
  return false;
}

bool is_project_edit_command(const std::string& name) {
  static const char* const k_edits[] = {"Enregistrer1", "EnregistrerAs1", "Compil1", "Info1", "Label", "En1", "Sa1",
                                        "CompISOP", "In1", "La1", "Supp1", "Ren", "Prop1", "MD", "DrExpl", "RSig",
                                        "Refr", "Clean1", "DelExt", "Path1", "dsstor", "DelProj", "CompProj",
                                        "MkDirProj", "WizProj", "DelIso", "CompIso", "MkDirIso", "WizIso"};
  for (const char* e : k_edits)
    if (name == e) return true;
  return false;
}

bool drop_accepted(const UiState& s) { return s.has_document && !s.compile_running && !s.read_only; }

namespace {
// Captions: the File menu's texts; "Open Folder" stands in for the display
// item when a folder is selected (the window swaps it).
const std::vector<PopupItemDef> k_popups[3][2] = {
    {{{"PopSup", "Supp1", 2046, 2246}, {"PopRen", "Ren", 2047, 2247}, {"PopProp", "Prop1", 2048, 2248},
      {nullptr, nullptr, 0, 0}, {"MdProj1", "MD", 2051, 2251}, {"DrProj", "DrExpl", 2055, 2255}},
     {{"TPopSup", "Supp1", 2046, 2246}, {"TPopRen", "Ren", 2047, 2247}, {"TPopProp", "Prop1", 2048, 2248},
      {nullptr, nullptr, 0, 0}, {"TDrProj", "DrExpl", 2055, 2255}}},
    {{{"CPC1", "MPC1", 2049, 2249}, {"AffPart", "Aff1", 2052, 2252}, {nullptr, nullptr, 0, 0},
      {"SuppPart", "Supp1", 2046, 2246}, {"RenPart", "Ren", 2047, 2247}, {"AttrPart", "AttrPart", 2053, 2253},
      {nullptr, nullptr, 0, 0}, {"MdPart1", "MD", 2051, 2251}, {"DrPart", "DrExpl", 2055, 2255}},
     {{"TCPC1", "MPC1", 2049, 2249}, {nullptr, nullptr, 0, 0}, {"TSuppPart", "Supp1", 2046, 2246},
      {"TRenPart", "Ren", 2047, 2247}, {"TAttrPart", "AttrPart", 2053, 2253}, {nullptr, nullptr, 0, 0},
      {"TDrPart", "DrExpl", 2055, 2255}}},
    {{{"Isup1", "Supp1", 2046, 2246}, {"Iren1", "Ren", 2047, 2247}, {"Iprop1", "Prop1", 2048, 2248},
      {nullptr, nullptr, 0, 0}, {"MdIsop1", "MD", 2051, 2251}, {"DrIso", "DrExpl", 2055, 2255}},
     {{"TIsup1", "Supp1", 2046, 2246}, {"TIren1", "Ren", 2047, 2247}, {"TIprop1", "Prop1", 2048, 2248},
      {nullptr, nullptr, 0, 0}, {"TDrIso", "DrExpl", 2055, 2255}}},
};
}  // namespace

const std::vector<PopupItemDef>& popup_items(int mode, bool tree) {
  return k_popups[mode >= 0 && mode <= 2 ? mode : 0][tree ? 1 : 0];
}
