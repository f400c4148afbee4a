#pragma once

#include "image/TzDIB.h"
#include "scan/BlackMask.h"

// A mask as a 1-bit picture (palette entry 0 white, entry 1 black), for
// tracers and writers that read pictures.
TTzDIB MaskPicture(const TBlackMask &mask);
