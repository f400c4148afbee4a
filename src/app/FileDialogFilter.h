#pragma once

#include <QString>
#include <QStringList>

// The program writes file-dialog filters as "description|pattern|description|pattern"
// with several patterns of one entry separated by ";". Qt wants one entry per
// filter, "description (pattern pattern)". A description that already ends with
// its pattern in brackets ("座標ﾌｧｲﾙ(*.txt)") keeps its text.
QStringList QtNameFilters(const QString &programFilter);
