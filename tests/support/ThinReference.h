#pragma once

#include "scan/BlackMask.h"

// The thinning of CenterlineSteps::Thin, testing every pixel of every pass one
// at a time: the reference the fast thinning must agree with.
void ThinEveryPixel(TBlackMask &mask);

// CenterlineSteps::RemoveStaircases one pixel at a time, in line order.
void RemoveStaircasesEveryPixel(TBlackMask &mask);
