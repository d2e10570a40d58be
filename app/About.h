// What Help → About says: the version, what Quarnel is for, its licence, and the library
// versions in use, which is what a bug report needs.
#pragma once

#include <QString>

// Plain text, one fact a line: "Quarnel 0.2.0", a line on what it does, the licence line,
// then the Qt and libpng versions loaded at run time (not those it was built against).
QString AboutText();
