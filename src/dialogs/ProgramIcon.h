#pragma once

#include <QIcon>

// The program's icon: a traced drawing on a sheet, painted at run time.
QIcon ProgramIcon();
