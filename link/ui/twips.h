#pragma once

#include <QtMath>

namespace ombrix {

// The window designs are laid out in twips; one logical pixel is 15 of them.
constexpr int TwipsPerPixel = 15;

constexpr int toPixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

inline double toTwips(double pixels)
{
    return pixels * TwipsPerPixel;
}

} // namespace ombrix
