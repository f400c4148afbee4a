#pragma once

#include <QIcon>
#include <QImage>

// The program's icon: a traced drawing on a sheet, painted at run time.
QIcon ProgramIcon();

// The same drawing as a picture of size x size pixels (the installed icons).
QImage ProgramIconImage(int size);
