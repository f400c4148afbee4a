#pragma once

// DXF layer names.
//   RestrictLayerName / OpeningLayerName - the name as written, or as a
//                     stored setting is opened; never fail.
//   IsLayerNameCharacter - whether a character may stand in a name.

#include <QString>

// The release-12 restriction of DXF layer names ("文字規制"): digits, capital
// letters, "_", "-" and "$". Small letters a..z become capitals; every other
// character (blanks, full stops, double-byte characters among them) is dropped.

// Whether a character belongs to the restricted alphabet.
bool IsLayerNameCharacter(QChar c);

// The name converted to capitals and filtered to the alphabet.
QString RestrictLayerName(const QString &name);

// The name shown when the settings dialog opens with the restriction on: the
// restricted name, "SCANDATA" when nothing is left, cut to 31 characters.
QString OpeningLayerName(const QString &stored);

// Longest layer name while the restriction is on.
constexpr int RestrictedLayerNameLength = 31;
