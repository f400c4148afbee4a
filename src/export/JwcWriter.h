#pragma once

// The JW_CAD file.
//   NewJwcWriter  - its writer: Write is false when a write failed.
//   JwcLayerIndex / JwcScaleNumber / JwcUnit - the layer and scale it writes.

#include "export/OutputFormats.h"

#include <QString>

#include <cstdint>
#include <memory>

// The JW_CAD drawing file: four 200-byte text blocks, the drawing parameters,
// one 22-byte record per segment and the layer and group name tables, all in
// one group and one layer.
std::unique_ptr<TFormatWriter> NewJwcWriter();

// The layer index N of the records, SaveGroup x 16 + JwcSaveLayer (0..255 for
// the settings dialog's values), computed without overflow for any stored pair.
qint64 JwcLayerIndex(const TSettings &settings);

// The scale number S of a drawing `width` units wide: width / 841 to the
// nearest whole number (a tie to the even one), raised to a multiple of 10
// above 10, at least 5.
std::int32_t JwcScaleNumber(long double width);
// The unit every coordinate is divided by: S x 841 / 518 as a 32-bit float.
float JwcUnit(std::int32_t scaleNumber);
