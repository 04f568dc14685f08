#pragma once

#include <QRect>
#include <QSize>

// Positions and sizes are laid out in twips, as the window was drawn; 15 twips make a pixel.
namespace WindowLayout
{
constexpr int TwipsPerPixel = 15;
constexpr int ClientWidthTwips = 4935;
constexpr int ClientHeightTwips = 6465;

constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
                 height / TwipsPerPixel);
}

constexpr QSize clientSize()
{
    return QSize(ClientWidthTwips / TwipsPerPixel, ClientHeightTwips / TwipsPerPixel);
}
} // namespace WindowLayout
