#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class TPictureFormats;
class TSPIs;

// The plug-ins of a program run, found the same way by the window program and
// the command line: a manager over `formats` with the default options, which
// searches `firstFolders` ("*.spi" in each, in order) and then, once, the Susie
// plug-in folder and the program's own folder. The manager must be released
// before `formats`.
std::unique_ptr<TSPIs> StartPlugins(TPictureFormats &formats, const QStringList &firstFolders = {});

// Where a registered extension's reader comes from: the path of the plug-in
// that registered it last, or "built in".
QString FormatOrigin(const TSPIs *plugins, const QString &extension);
