// The string table of every program: each folder's texts, gathered here so
// that the engine's layers never include the texts of the programs above them.
// Ids are unique across the whole table (a test of IO checks it).
#include <cstddef>

#include "IO/uitext.h"

const TextEntry g_text_table[] = {
#include "IO/texts.inc"
#include "IO/texts_files.inc"
#include "IO/texts_media.inc"
#include "cli/texts.inc"
#include "compiler/texts.inc"
#include "compiler/texts_forks.inc"
#include "compiler/texts_image.inc"
#include "compiler/texts_items.inc"
#include "compiler/texts_refresh.inc"
#include "gui/browser/texts.inc"
#include "gui/compile/texts.inc"
#include "gui/dsstore/texts.inc"
#include "gui/forms/texts.inc"
#include "gui/inspector/texts.inc"
#include "gui/inspector/texts_volume.inc"
#include "gui/preferences/texts.inc"
#include "gui/project/texts.inc"
#include "gui/refresh/texts.inc"
#include "gui/search/texts.inc"
#include "gui/signatures/texts.inc"
#include "gui/texts.inc"
#include "gui/views/texts.inc"
#include "gui/volume/texts.inc"
#include "hfs/texts.inc"
#include "hfs/texts_edit.inc"
#include "iconasm/texts.inc"
#include "macfiles/texts.inc"
};
const size_t g_text_table_size = sizeof g_text_table / sizeof g_text_table[0];
