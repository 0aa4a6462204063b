// corvane: the GUI program.
#include "gui/app.h"

wxIMPLEMENT_APP_NO_MAIN(CorvaneApp);

int main(int argc, char** argv) { return corvane_main(argc, argv); }
