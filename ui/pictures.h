#pragma once

// The program's icon and the main window's button pictures, compiled into this library.

#include <QIcon>

// The icon in every size the desktop's icon theme gets, each drawn for its size.
QIcon ProgramIcon();
// ":/pictures/NAME.png": select, process, abort, reririduruv-32...
QIcon Picture(const char* name);
