// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

// The design's font, "MS Sans Serif", at a size and weight. Where that face is missing, a sans with
// the same widths (Arial's metrics) stands in, so that captions fit the places the layout gives them.
QFont designFont(double points, bool bold = false);
