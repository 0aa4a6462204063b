// The facetor window under a virtual X server, driven by a command script:
// what an import puts into the slots is read back from the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>
#include <sstream>

#include "IO/bigendian.h"
#include "icon_kit.h"

using testkit::quote;
using testkit::run;

namespace {

struct Probe {
  int mark = 0, nonwhite = 0;
  std::string centre;
};

std::map<std::string, Probe> read_probe(const std::string& path) {
  std::map<std::string, Probe> out;
  std::ifstream in(path);
  std::string name;
  Probe p;
  while (in >> name >> p.mark >> p.nonwhite >> p.centre) out[name] = p;
  return out;
}

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

testkit::RunResult run_window(const testkit::TempDir& dir, const std::string& script) {
  testkit::write_text(dir.str("script.txt"), script);
  return run("CORVANE_CONFIG_DIR=" + quote(dir.str("cfg")) + " FACETOR_MESSAGE_LOG=" + quote(dir.str("messages.txt")) +
             " timeout 120 xvfb-run -a " + quote(FACETOR_PATH) + " --script " + quote(dir.str("script.txt")));
}

TEST(FacetorWindow, ImportRecentFilesAndLanguage) {
  REQUIRE_TOOL("xvfb-run");
  REQUIRE_TOOL("png2icns");
  REQUIRE_TOOL("icns2png");
  testkit::TempDir dir;
  std::string cmd = "png2icns " + quote(dir.str("family.icns"));
  for (int n : {16, 32, 48, 128}) {
    iconkit::write_png(dir.str(std::to_string(n) + ".png"), iconkit::disc_picture(n, false));
    cmd += " " + quote(dir.str(std::to_string(n) + ".png"));
  }
  ASSERT_EQ(run(cmd).rc, 0);
  // The 16 x 12 row: an 8-bit picture (all index 5), then a 4-bit one (all index 3).
  testkit::write_file(dir.str("row.icm8"), std::vector<uint8_t>(192, 5));
  testkit::write_file(dir.str("row.icm4"), std::vector<uint8_t>(96, 0x33));
  for (const char* extra : {"a.icns", "b.icns", "c.icns"})
    std::filesystem::copy_file(dir.str("family.icns"), dir.str(extra));
  std::string s;
  for (const char* f : {"family.icns", "row.icm8", "row.icm4", "a.icns", "b.icns", "a.icns", "c.icns"})
    s += "open " + dir.str(f) + "\n";
  s += "lang en\nmenus " + dir.str("menus_en.txt") + "\nrecent " + dir.str("recent1.txt") + "\nsave-icns " +
       dir.str("saved.icns") + "\nshot " + std::string(CORVANE_BINARY_DIR) + "/facetor_window.png\nquit\n";
  auto r = run_window(dir, s);
  ASSERT_EQ(r.rc, 0) << r.err;
  auto probe = read_probe(std::string(CORVANE_BINARY_DIR) + "/facetor_window.png.probe");
  ASSERT_EQ(probe.size(), 12u);
  for (const char* filled : {"ic16", "im16", "ic32", "im32", "ic48", "im48", "ic128", "im128", "ic12"}) {
    EXPECT_NE(probe[filled].mark, 0) << filled;
    EXPECT_GT(probe[filled].nonwhite, 0) << filled;
  }
  for (const char* empty : {"im12", "icNB", "imNB"}) {
    EXPECT_EQ(probe[empty].mark, 0) << empty;
    EXPECT_EQ(probe[empty].nonwhite, 0) << empty;
  }
  // The later 4-bit picture did not replace the 8-bit one: index 5 of the
  // 256-colour table is FFFF00... shown, not index 3 of the 16 colours.
  EXPECT_EQ(probe["ic12"].mark, 3);
  EXPECT_EQ(probe["ic12"].centre, "FFFF00");
  EXPECT_NE(probe["ic128"].centre, "FFFFFF");
  // Recent files: five, newest first, no duplicate.
  std::vector<std::string> recent = lines_of(dir.str("recent1.txt"));
  std::vector<std::string> expected = {"1. " + dir.str("c.icns"), "2. " + dir.str("a.icns"), "3. " + dir.str("b.icns"),
                                       "4. " + dir.str("row.icm4"), "5. " + dir.str("row.icm8")};
  EXPECT_EQ(recent, expected);
  // What the window saved is what icns2png reads.
  std::filesystem::create_directories(dir.str("x"));
  ASSERT_EQ(run("icns2png -x -o " + quote(dir.str("x")) + " " + quote(dir.str("saved.icns"))).rc, 0);
  EXPECT_EQ(iconkit::read_pngs(dir.str("x")).size(), 4u);  // four sizes, each with its mask
  std::string menus = testkit::read_text(dir.str("menus_en.txt"));
  EXPECT_NE(menus.find("menu File"), std::string::npos);
  EXPECT_NE(menus.find("item Import|Import an existing icon/resource file in the Facetor"), std::string::npos);

  // After a restart: the same recent files; French captions on request.
  std::string s2 = "recent " + dir.str("recent2.txt") + "\nlang fr\nmenus " + dir.str("menus_fr.txt") + "\nshot " +
                   std::string(CORVANE_BINARY_DIR) + "/facetor_window_fr.png\nquit\n";
  r = run_window(dir, s2);
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(lines_of(dir.str("recent2.txt")), expected);
  std::string fr = testkit::read_text(dir.str("menus_fr.txt"));
  EXPECT_NE(fr.find("menu Fichier"), std::string::npos) << fr;
  EXPECT_NE(fr.find("menu Édition"), std::string::npos);
  EXPECT_NE(fr.find("item Importer|"), std::string::npos);
  EXPECT_NE(fr.find("tab Presse-papiers"), std::string::npos);
  EXPECT_EQ(fr.find("item Import|"), std::string::npos);
}

TEST(FacetorWindow, UnsupportedAndDamagedFilesGiveAMessage) {
  REQUIRE_TOOL("xvfb-run");
  testkit::TempDir dir;
  testkit::write_file(dir.str("junk.dat"), testkit::random_bytes(3000, 5));
  std::vector<uint8_t> bad = {'i', 'c', 'n', 's', 0, 0, 0, 40, 'i', 'l', '3', '2', 0xFF, 0xFF, 0xFF, 0x00};
  bad.resize(40, 0x81);
  testkit::write_file(dir.str("bad.icns"), bad);
  auto r = run_window(dir, "open " + dir.str("junk.dat") + "\nopen " + dir.str("bad.icns") + "\nquit\n");
  ASSERT_EQ(r.rc, 0) << r.err;
  std::string msgs = testkit::read_text(dir.str("messages.txt"));
  EXPECT_NE(msgs.find("is not a supported graphic format"), std::string::npos) << msgs;
  EXPECT_NE(msgs.find("damaged"), std::string::npos) << msgs;
}

// The About box in both languages, its mail and web buttons and On-Line
// Support: each address goes to the desktop's opener (a recording xdg-open
// first on PATH stands in for it).
TEST(FacetorWindow, AboutBoxAndOnLineSupportOpenTheirAddresses) {
  REQUIRE_TOOL("xvfb-run");
  testkit::TempDir dir;
  std::filesystem::create_directories(dir.str("bin"));
  testkit::write_text(dir.str("bin/xdg-open"), "#!/bin/sh\necho \"$1\" >> " + quote(dir.str("opened.txt")) + "\n");
  std::filesystem::permissions(dir.str("bin/xdg-open"), std::filesystem::perms::owner_all);
  std::string shots = std::string(CORVANE_BINARY_DIR) + "/facetor_about";
  // One box a run: each is grabbed as it first shows.
  for (const char* lang : {"en", "fr"}) {
    std::string shot = shots + (lang[0] == 'f' ? "_fr.png" : ".png");
    std::string s = std::string("lang ") + lang + "\nabout\nshot " + shot + "\nclick Web\n" +
                    (lang[0] == 'e' ? "click Mail\n" : "") + "close-about\nsupport\nquit\n";
    testkit::write_file(dir.str("script.txt"), std::vector<uint8_t>(s.begin(), s.end()));
    auto r = run("PATH=" + quote(dir.str("bin")) + ":\"$PATH\" CORVANE_CONFIG_DIR=" + quote(dir.str("cfg")) +
                 " FACETOR_MESSAGE_LOG=" + quote(dir.str("messages.txt")) + " timeout 120 xvfb-run -a " +
                 quote(FACETOR_PATH) + " --script " + quote(dir.str("script.txt")));
    ASSERT_EQ(r.rc, 0) << r.err;
  }
  // The opener runs on its own: give it a moment to write.
  for (int i = 0; i < 50 && lines_of(dir.str("opened.txt")).size() < 5; ++i) usleep(100000);
  std::vector<std::string> opened = lines_of(dir.str("opened.txt"));
  std::sort(opened.begin(), opened.end());
  std::vector<std::string> expected = {"https://www.veltron.example/facetor/", "https://www.veltron.example/facetor/fr/",
                                       "https://www.veltron.example/facetor/support/",
                                       "https://www.veltron.example/fr/facetor/support/",
                                       "mailto:support@veltron.example?subject=Facetor"};
  EXPECT_EQ(opened, expected);
  EXPECT_TRUE(std::filesystem::exists(shots + ".png"));
  EXPECT_TRUE(std::filesystem::exists(shots + "_fr.png"));
  EXPECT_FALSE(std::filesystem::exists(dir.str("messages.txt"))) << testkit::read_text(dir.str("messages.txt"));
}

std::string fixture(const char* name) { return std::string(CORVANE_SOURCE_DIR) + "/tests/iconasm/fixtures/" + name; }

// Help Topics (F1, pressed on the window), the About box's "?" button and F1
// on the box each open their page, in English and in French: the text is
// what the help window shows.
TEST(FacetorWindow, HelpTopicsAndTheAboutBoxOpenTheirPages) {
  REQUIRE_TOOL("xvfb-run");
  testkit::TempDir dir;
  std::string shots = std::string(CORVANE_BINARY_DIR) + "/facetor_help";
  struct Lang {
    const char *code, *topics, *about;
  };
  for (Lang l : {Lang{"en", "Facetor reads, edits and writes Macintosh and Windows icons.",
                      "The About box shows the program's version."},
                 Lang{"fr", "Facetor lit, modifie et écrit les icônes Macintosh et Windows.",
                      "La boîte À propos indique la version du programme."}}) {
    SCOPED_TRACE(l.code);
    std::string c = l.code, at = dir.str(c + "_");
    std::string s = "lang " + c + "\nkey F1\nhelp-text " + at + "topics.txt\nshot-help " + shots + "_topics_" + c +
                    ".png\nclose-help\nabout\nclick Help\nhelp-text " + at + "about.txt\nshot-help " + shots +
                    "_about_" + c + ".png\nclose-help\nkey F1\nhelp-text " + at + "about_f1.txt\nclose-help\n"
                    "close-about\nquit\n";
    auto r = run_window(dir, s);
    ASSERT_EQ(r.rc, 0) << r.err;
    std::string topics = testkit::read_text(at + "topics.txt"), about = testkit::read_text(at + "about.txt");
    EXPECT_EQ(topics.rfind("page index.html\n", 0), 0u) << topics;
    EXPECT_NE(topics.find(l.topics), std::string::npos) << topics;
    EXPECT_EQ(about.rfind("page about.html\n", 0), 0u) << about;
    EXPECT_NE(about.find(l.about), std::string::npos) << about;
    EXPECT_EQ(testkit::read_text(at + "about_f1.txt"), about);
    EXPECT_TRUE(std::filesystem::exists(shots + "_topics_" + c + ".png"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir.str("messages.txt"))) << testkit::read_text(dir.str("messages.txt"));
}

// After an open that filled no slot (an image of 30 x 32, which no slot
// takes), each family save says there is nothing to save and writes nothing;
// the messages are photographed as shown, in both languages. A PNG named .ico
// fills its slot, and images too large to read are named.
TEST(FacetorWindow, NothingToSaveIsRefusedAndSaid) {
  REQUIRE_TOOL("xvfb-run");
  testkit::TempDir dir;
  testkit::write_file(dir.str("huge.ico"), iconkit::huge_images_ico());
  for (const char* lang : {"en", "fr"}) {
    SCOPED_TRACE(lang);
    std::filesystem::remove(dir.str("messages.txt"));
    testkit::write_text(dir.str("save-icns"), "the file there before");  // a declined save leaves it as it was
    std::string s = std::string("lang ") + lang + "\nopen " + fixture("pyasn1-favicon.ico") + "\n";
    for (const char* save : {"save-icns", "save-ico", "save-bin"}) s += std::string(save) + " " + dir.str(save) + "\n";
    s += "open " + dir.str("huge.ico") + "\nwipe\nopen " + fixture("help-html-favicon.ico") + "\nshot " + dir.str("w.png") +
         "\nquit\n";
    testkit::write_text(dir.str("script.txt"), s);
    auto r = run("CORVANE_CONFIG_DIR=" + quote(dir.str("cfg")) + " FACETOR_MESSAGE_LOG=" + quote(dir.str("messages.txt")) +
                 " FACETOR_MESSAGE_SHOTS=" + quote(std::string(CORVANE_BINARY_DIR) + "/facetor_message_" + lang + "_") +
                 " timeout 120 xvfb-run -a " + quote(FACETOR_PATH) + " --script " + quote(dir.str("script.txt")));
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(testkit::read_text(dir.str("save-icns")), "the file there before");
    for (const char* save : {"save-ico", "save-bin"}) EXPECT_FALSE(std::filesystem::exists(dir.str(save)));
    std::string msgs = testkit::read_text(dir.str("messages.txt"));
    std::vector<std::string> said;
    for (size_t at = 0, end; (end = msgs.find("\n--\n", at)) != std::string::npos; at = end + 4)
      said.push_back(msgs.substr(at, end - at));
    ASSERT_EQ(said.size(), 5u) << msgs;
    bool en = lang[0] == 'e';
    EXPECT_NE(said[0].find(en ? "holds 1 picture of a size no slot takes (30 x 32): it was skipped."
                              : "contient 1 image d'une taille qu'aucune case ne prend (30 x 32) : elle a été ignorée."),
              std::string::npos) << said[0];
    for (int k = 1; k <= 3; ++k)
      EXPECT_EQ(said[size_t(k)], en ? "No icon slot of 16, 32, 48 or 128 pixels holds a picture: there is nothing to save, "
                                      "and no file was written."
                                    : "Aucune case d'icône de 16, 32, 48 ou 128 pixels ne contient d'image : il n'y a rien "
                                      "à enregistrer, et aucun fichier n'a été écrit.");
    EXPECT_NE(said[4].find(en ? "40000 x 40000 pixels in image 1" : "40000 x 40000 pixels dans l'image 1"), std::string::npos)
        << said[4];
    auto probe = read_probe(dir.str("w.png.probe"));
    EXPECT_EQ(probe["ic32"].mark, 7);
    EXPECT_GT(probe["ic32"].nonwhite, 100);
    EXPECT_EQ(probe["ic16"].mark, 0);  // wiped before the PNG
  }
}

}  // namespace
