// SPDX-License-Identifier: GPL-3.0-or-later
#include "fonts.h"

#include <QStringList>

using namespace Qt::StringLiterals;

QFont designFont(double points, bool bold)
{
    QFont font(u"MS Sans Serif"_s);
    font.setFamilies(
        { u"MS Sans Serif"_s, u"Microsoft Sans Serif"_s, u"Arial"_s, u"Liberation Sans"_s, u"Arimo"_s });
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
