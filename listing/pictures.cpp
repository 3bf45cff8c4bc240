// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictures.h"

#include <QPainter>
#include <QPolygon>

namespace {

const QColor black(0, 0, 0);
const QColor white(255, 255, 255);
const QColor grey(192, 192, 192);
const QColor darkGrey(128, 128, 128);
const QColor yellow(255, 255, 0);
const QColor olive(128, 128, 0);
const QColor blue(0, 0, 128);

}

QImage folderPicture()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);

    // Back of the folder with its tab.
    p.setPen(black);
    p.setBrush(olive);
    p.drawPolygon(QPolygon({ { 2, 8 }, { 10, 8 }, { 12, 10 }, { 27, 10 }, { 27, 28 }, { 2, 28 } }));

    // The sheet standing in the folder, with its ruled lines.
    p.setBrush(white);
    p.drawRect(7, 2, 16, 22);
    p.setPen(blue);
    for (int y = 6; y <= 20; y += 3)
        p.drawLine(9, y, 21, y);

    // Front flap, opened towards the viewer.
    p.setPen(black);
    p.setBrush(yellow);
    p.drawPolygon(QPolygon({ { 2, 28 }, { 6, 15 }, { 31, 15 }, { 27, 28 } }));
    p.setPen(white);
    p.drawLine(7, 16, 29, 16);
    return image;
}

QImage arrowPicture(bool up)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(grey);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(black);
    p.setBrush(black);
    const QPolygon arrow({ { 8, 2 }, { 14, 8 }, { 10, 8 }, { 10, 13 }, { 6, 13 }, { 6, 8 }, { 2, 8 } });
    if (up) {
        p.drawPolygon(arrow);
    } else {
        p.translate(0, 15);
        p.scale(1, -1);
        p.drawPolygon(arrow);
    }
    return image;
}
