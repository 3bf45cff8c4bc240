// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QString>

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

// Names a control of a window and puts it at its place, given in twips.
template <typename Control>
Control* place(Control* control, const QString& name, int left, int top, int width, int height)
{
    control->setObjectName(name);
    control->setGeometry(twipRect(left, top, width, height));
    return control;
}
