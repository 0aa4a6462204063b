#include "gui/preferences/file_types.h"

#include <sys/statvfs.h>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "IO/charsets.h"
#include "IO/prompts.h"
#include "IO/strlib.h"
#include "IO/uitext.h"
#include "IO/unicode.h"
#include "IO/version.h"
#include "hfs/btree.h"
#include "hfs/voledit.h"
#include "hfs/volume.h"
#include "macfiles/aliasres.h"
#include "macfiles/signatures.h"

// --- file types -------------------------------------------------------------------------------------

std::vector<FileTypeRegistration> file_types_to_register(bool project, bool partition, bool isoplus) {
  std::vector<FileTypeRegistration> out;
  if (project) out.push_back({".cvpr", "Corvane.proj", 2});
  if (partition) out.push_back({".hfs", "Corvane.part", 3});
  if (isoplus) out.push_back({".cvso", "Corvane.isop", 4});
  return out;
}
