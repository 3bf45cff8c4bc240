#pragma once

#include <QRect>

// Layouts are written in twips, as the design tables give them; 15 twips make one
// device-independent pixel.
constexpr int twips(int value)
{
    return value / 15;
}

constexpr QRect twipRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}
