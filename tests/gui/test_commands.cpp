// Commands run the handler registered for the working mode they run in.
#include <gtest/gtest.h>

#include "compiler/project.h"
#include "gui/commands.h"
#include "gui/menumodel.h"

TEST(GuiCommands, HandlersAreChosenByWorkingMode) {
  std::string ran;
  register_command("TestItem", [&] { ran = "project"; }, k_in_project | k_in_isoplus);
  register_command("TestItem", [&] { ran = "partition"; }, k_in_partition);
  int saved = g_working_mode;
  g_working_mode = k_mode_isoplus;
  EXPECT_TRUE(run_registered_command("TestItem"));
  EXPECT_EQ(ran, "project");
  g_working_mode = k_mode_partition;
  EXPECT_TRUE(run_registered_command("TestItem"));
  EXPECT_EQ(ran, "partition");
  g_working_mode = k_mode_none;
  ran.clear();
  EXPECT_FALSE(run_registered_command("TestItem"));
  EXPECT_FALSE(run_registered_command("NoSuchCommand"));
  EXPECT_TRUE(ran.empty());
  g_working_mode = saved;
}
