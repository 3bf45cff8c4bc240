// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

// Brenvale's pictures, drawn here in the 16-colour palette: the window icon (an open yellow folder
// with a sheet of lined paper standing in it) and the arrows of the up and down buttons.
QImage folderPicture();
QImage arrowPicture(bool up);
