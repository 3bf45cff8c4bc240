// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

// Quorrel's pictures, drawn here in the 16-colour palette: the window icon (a grid of coloured
// squares under a grey strip) and the card-index drawer shown in the window.
QImage gridPicture();
QImage drawerPicture();
