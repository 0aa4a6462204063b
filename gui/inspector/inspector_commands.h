// The inspector's command of the main window: "Display File Contents" (Aff1)
// on the rows selected in the open volume's list, in Partition Mode.
#pragma once

void register_inspector_commands();
