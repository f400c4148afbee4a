#pragma once

#include <QString>

// The Susie plug-in folder the user set up: the text value "Path" of the group
// "Plug-in" of the settings of organisation "Takechin", application "Susie"
// (on Windows HKEY_CURRENT_USER\Software\Takechin\Susie\Plug-in, elsewhere
// $XDG_CONFIG_HOME/Takechin/Susie.conf, [Plug-in], Path=...). Read only: the
// settings are never created or written. Empty when the value is missing or
// empty, or the settings cannot be read.
QString SusiePluginFolder();
