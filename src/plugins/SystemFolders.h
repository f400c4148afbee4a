#pragma once

#include <QString>

// The system folder and the Windows folder of the running system; empty on
// systems that have none.
QString SystemFolder();
QString WindowsFolder();
