// The main window's caption: the dialog template's, and the one by which outside programs (the
// end-to-end tests' probe, the scripts) find the window. Plain preprocessor text, so that both
// windres and the compilers read it.
#pragma once

#include "vardelo_version.h"

#define VARDELO_CAPTION "Memory benchmark v" VARDELO_VERSION " (alpha)"
