// A project made from a PC tree, the way inclusion makes one (plain files, both
// views), for the compile tests; and a generated tree with the awkward cases.
#pragma once

#include <string>
#include <vector>

#include "support/testkit.h"

namespace compile_fixture {

// Makes project_path (a new project) holding every item under root.
// Returns the number of items added, or -1.
int make_project_from_tree(const std::string& project_path, const std::string& root, bool hfsplus = false,
                           const std::string& label = "Test CD");

// A project of `folders` folders under the root holding `items` items in all
// (folders included), every file an entry for the one PC file `pc_file`, the
// records written straight in run order. Returns the items, or -1.
int make_wide_project(const std::string& project_path, const std::string& pc_file, int items, bool hfsplus = false);

// A chain of `depth` folders made only in the project, each the one item of
// the folder above it, all named name, written straight in run order.
// Returns depth, or -1.
int make_deep_project(const std::string& project_path, int depth, bool hfsplus = false, const std::string& name = "a");

// A tree with deep folders, names colliding after 8, 31 and 64 characters,
// accented and non-Latin names, empty files and files of exactly one block.
// Returns the relative paths of its files.
std::vector<std::string> make_awkward_tree(const std::string& root);

}  // namespace compile_fixture
