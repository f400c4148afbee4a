#include "base/ScaleMagnification.h"

#include <gtest/gtest.h>

namespace {

TEST(ScaleMagnification, ScaleOverDpiTimesAnInch)
{
    EXPECT_EQ(MagnificationForScale(100, 400), 6.35f);
    EXPECT_EQ(MagnificationForScale(200, 100), 50.8f);
    EXPECT_EQ(MagnificationForScale(1, 25.4f), 1.0f);
    EXPECT_EQ(MagnificationForScale(0, 300), 0.0f);
    EXPECT_FALSE(MagnificationForScale(1, 0).has_value());
    EXPECT_FALSE(MagnificationForScale(3e38f, 1e-3f).has_value());
}

} // namespace
