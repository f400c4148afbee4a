#include "image/SystemColors.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

// The palette roles that stand for the system colours, by their index.
struct TSystemColour
{
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};

constexpr TSystemColour SystemColours[] = {
    {QPalette::Active, QPalette::Button},          // scroll bar
    {QPalette::Active, QPalette::Dark},            // desktop background
    {QPalette::Active, QPalette::Highlight},       // active caption
    {QPalette::Inactive, QPalette::Highlight},     // inactive caption
    {QPalette::Active, QPalette::Window},          // menu
    {QPalette::Active, QPalette::Base},            // window
    {QPalette::Active, QPalette::Shadow},          // window frame
    {QPalette::Active, QPalette::WindowText},      // menu text
    {QPalette::Active, QPalette::Text},            // window text
    {QPalette::Active, QPalette::HighlightedText}, // caption text
    {QPalette::Active, QPalette::Button},          // active border
    {QPalette::Inactive, QPalette::Button},        // inactive border
    {QPalette::Active, QPalette::Mid},             // application workspace
    {QPalette::Active, QPalette::Highlight},       // highlight
    {QPalette::Active, QPalette::HighlightedText}, // highlighted text
    {QPalette::Active, QPalette::Button},          // button face
    {QPalette::Active, QPalette::Dark},            // button shadow
    {QPalette::Disabled, QPalette::WindowText},    // grey text
    {QPalette::Active, QPalette::ButtonText},      // button text
    {QPalette::Inactive, QPalette::HighlightedText}, // inactive caption text
    {QPalette::Active, QPalette::Light},           // button highlight
    {QPalette::Active, QPalette::Shadow},          // 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 3-D light
    {QPalette::Active, QPalette::ToolTipText},     // tool tip text
    {QPalette::Active, QPalette::ToolTipBase},     // tool tip background
};

} // namespace

TColor ColorToRGB(TColor colour)
{
    if (colour >= 0)
        return colour;
    const int index = colour & 0xFF;
    if (index >= int(std::size(SystemColours)))
        return 0;
    const TSystemColour &system = SystemColours[index];
    const QRgb rgb = QGuiApplication::palette().color(system.Group, system.Role).rgb();
    return TColor(qRed(rgb)) | TColor(qGreen(rgb)) << 8 | TColor(qBlue(rgb)) << 16;
}
