// Operations whose bodies live elsewhere in the engine. Until each lands, it
// answers as a command that cannot run here: 1, nothing done, no file touched.
// Whoever provides one deletes it from this file and defines it in their own.
#include <cstdint>
#include <cstdio>

#include "IO/ui_services.h"
#include "compiler/commands.h"




// Asks before a non-empty folder of a project is deleted: 1 delete, 0 keep.
int confirm_delete_folder(const char* name) { return ask_yes_no(name) ? 1 : 0; }
