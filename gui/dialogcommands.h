// The commands that open the program's dialogs: the compiles of the hybrid,
// HFS-only, ISO-only and ISO+ images with their option dialogs, the project's
// properties and labels, the properties, rename, delete and new folder of
// project items, the file search of the three modes, the access path, the
// file types, the column settings, the signature file and About. Also the
// dialogs the engine's user-interface hooks open.
#pragma once

// Registers the handlers and installs the hooks' dialogs.
void register_dialog_commands();
