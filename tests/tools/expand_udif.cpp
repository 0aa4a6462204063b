// Expands a UDIF image the way the programs do: expand_udif OUT.img IN.dmg
#include <cstdio>

#include "IO/iodmg.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: expand_udif IN.dmg OUT.img\n");
    return 2;
  }
  int rc = expand_dmg_file(argv[1], argv[2]);
  if (rc != 1) std::fprintf(stderr, "expansion failed: %d\n", rc);
  return rc == 1 ? 0 : 1;
}
