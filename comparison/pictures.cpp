// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictures.h"

#include <QPainter>

QImage gridPicture()
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 0));
    QPainter p(&image);
    p.fillRect(0, 0, 32, 4, QColor(192, 192, 192));
    const QColor colours[] = { QColor(255, 0, 0), QColor(0, 0, 255), QColor(255, 255, 0), QColor(0, 192, 0) };
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column)
            p.fillRect(2 + column * 7, 6 + row * 6, 6, 5, colours[(row + column) % 4]);
    }
    return image;
}

QImage drawerPicture()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor black(0, 0, 0), white(255, 255, 255), grey(192, 192, 192), darkGrey(128, 128, 128);

    // Cards standing in the open drawer, one behind the other.
    p.setPen(black);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(i % 2 ? white : QColor(255, 255, 192));
        p.drawRect(6 + i * 2, 2 + i * 2, 18, 12);
    }
    // The drawer's sides and front.
    p.setBrush(darkGrey);
    p.drawPolygon(QPolygon({ { 3, 10 }, { 28, 10 }, { 30, 14 }, { 1, 14 } }));
    p.setBrush(grey);
    p.drawRect(1, 14, 29, 15);
    // Label slot and handle on the front.
    p.setBrush(white);
    p.drawRect(11, 17, 9, 4);
    p.setBrush(darkGrey);
    p.drawRect(12, 24, 7, 2);
    return image;
}
