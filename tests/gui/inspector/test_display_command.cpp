// "Display File Contents" over rows of the open volume's list: an empty file
// is announced and passed over, Cancel in a dump window ends the walk, and a
// folder row opens the folder.
#include <gtest/gtest.h>

#include "IO/uitext.h"
#include "dump_images.h"
#include "gui/inspector/display_command.h"

namespace {

using dumpimg::row_of;

struct Recorder {
  std::vector<std::string> shown, messages;
  std::vector<int32_t> opened;
  int result = 1;
  DisplayCommandHooks hooks() {
    return {[this](int32_t f) { opened.push_back(f); }, [this](const std::string& t) { messages.push_back(t); },
            [this](DumpFile& f) {
              shown.push_back(f.name);
              return result;
            }};
  }
};

}  // namespace

class DisplayCommand : public dumpimg::NestedImagesTest {};

TEST_F(DisplayCommand, EmptyFilesCancelAndFolders) {
  const uint32_t src = dumpimg::src_folder();
  std::vector<FileTableEntry> rows = {row_of(src, "one.bin"), row_of(src, "empty.txt"), row_of(src, "odd.bin")};
  ASSERT_EQ(rows[1].kind, 2);

  Recorder r;
  EXPECT_EQ(display_file_contents(rows, src, r.hooks()), 2);
  EXPECT_EQ(r.shown, (std::vector<std::string>{"one.bin", "odd.bin"}));
  EXPECT_EQ(r.messages, std::vector<std::string>{ui_text(6500)});

  // Cancel in the first window: the rest is not shown.
  Recorder c;
  c.result = k_dump_cancelled;
  EXPECT_EQ(display_file_contents(rows, src, c.hooks()), 1);
  EXPECT_EQ(c.shown, std::vector<std::string>{"one.bin"});

  // A folder first: it opens, nothing is dumped.
  Recorder f;
  std::vector<FileTableEntry> with_folder = {row_of(2, "src"), rows[0]};
  EXPECT_EQ(display_file_contents(with_folder, 2, f.hooks()), 0);
  EXPECT_EQ(f.opened, std::vector<int32_t>{int32_t(src)});
  EXPECT_TRUE(f.shown.empty());

  // A row whose file is no longer there is passed over.
  FileTableEntry gone = rows[0];
  gone.id = -999999;
  gone.units = u"gone";
  Recorder g;
  EXPECT_EQ(display_file_contents({gone, rows[2]}, src, g.hooks()), 1);
}
