// The room a copy of PC files onto a volume takes, counted the way the import
// writes it: each fork rounded up to whole allocation blocks.
#pragma once

#include <cstdint>
#include <string>

// The bytes of allocation blocks (block_size each) that importing the PC file
// or folder at path takes: for each file, the forks it carries (a MacBinary or
// AppleSingle file by its header, a file by its size and its resource stream or
// AppleDouble companion; a BinHex file by its size, which is more than its
// forks, plus one block), each rounded up; a folder counts every file below it.
// Links, special files and companions beside their file count nothing, as the
// import skips them. Catalog growth is not counted.
uint64_t import_allocation(const std::string& path, uint32_t block_size);
