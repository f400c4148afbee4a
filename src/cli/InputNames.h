#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Inputs named by bytes that are not UTF-8: names written in code page 932, as
// archives copied from Windows carry them. Such a name is shown (and its
// outputs named) as the code page 932 text it is, and read through a link of
// its own in a private folder that lives as long as the program.

// The name of an input given as bytes (an argument, a line of a list).
QString InputName(const QByteArray &bytes);
// The arguments of the program, each through InputName.
QStringList ArgumentNames(int argc, char *argv[]);
// The path an input is read from: its link when its name is not UTF-8, else
// the name itself.
QString ReadPath(const QString &input);
