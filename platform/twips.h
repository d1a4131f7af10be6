#pragma once

// The window's layout and the mouse positions its handlers get are in twips: 15 to a logical
// pixel (1/1440 inch at 96 dots per inch).
inline constexpr int TwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixel;
}
