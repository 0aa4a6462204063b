// Shared by the fuzzers that damage a whole volume image: the image a template
// built in a memory file, the input's changes to its bytes, and a memory file
// holding the damaged copy for the engine to open.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

// Every byte of the memory file fd, which is closed; empty when it cannot be read.
inline std::vector<uint8_t> take_memory_file(int fd) {
  std::vector<uint8_t> img(size_t(lseek(fd, 0, SEEK_END)));
  if (pread(fd, img.data(), img.size(), 0) != ssize_t(img.size())) img.clear();
  close(fd);
  return img;
}

// Each 4-byte group of data after its first byte: a position (3 bytes, taken
// over the image's first 256 KiB, where the structures are) and the byte to put there.
inline void damage_image(std::vector<uint8_t>& img, const uint8_t* data, size_t size) {
  for (size_t i = 1; i + 4 <= size; i += 4) {
    uint32_t pos = (uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2]) %
                   std::min<size_t>(img.size(), 1 << 18);
    img[pos] = data[i + 3];
  }
}

// A memory file holding img, or -1.
inline int memory_file_of(const std::vector<uint8_t>& img) {
  int fd = memfd_create("img", 0);
  if (fd >= 0 && write(fd, img.data(), img.size()) != ssize_t(img.size())) {
    close(fd);
    fd = -1;
  }
  return fd;
}
