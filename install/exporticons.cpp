// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the programs' icons as PNG files in the usual sizes, for the desktop menu. Brenvale's and
// Quorrel's 32-pixel window pictures are scaled without smoothing, so the pixel art stays crisp;
// Mendwell's is drawn at each size: a folder with a sticking plaster across it.
#include "../comparison/pictures.h"
#include "../listing/pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

QImage mendwellPicture(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    const QPen outline(QColor(40, 40, 40), 1.2);
    p.setPen(outline);
    p.setBrush(QColor(218, 165, 32));
    p.drawPolygon(QPolygonF({ { 2, 7 }, { 11, 7 }, { 13, 9.5 }, { 30, 9.5 }, { 30, 28 }, { 2, 28 } }));
    p.setBrush(QColor(245, 200, 66));
    p.drawRect(QRectF(2, 12, 28, 16));

    // The plaster, turned across the folder's front.
    p.translate(16, 20);
    p.rotate(-30);
    p.setBrush(QColor(236, 190, 160));
    p.drawRoundedRect(QRectF(-13, -3.5, 26, 7), 3.5, 3.5);
    p.setBrush(QColor(250, 235, 220));
    p.drawRect(QRectF(-4, -3.5, 8, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 150, 120));
    for (const QPointF dot : { QPointF(-2, -1.5), QPointF(2, -1.5), QPointF(-2, 1.5), QPointF(2, 1.5) })
        p.drawEllipse(dot, 0.6, 0.6);
    return image;
}

}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: exporticons FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const struct
    {
        const char* name;
        QImage image;
    } icons[] = { { "brenvale", folderPicture() }, { "quorrel", gridPicture() } };
    for (int size : { 16, 24, 32, 48, 64, 128, 256 }) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        QDir().mkpath(folder);
        if (!mendwellPicture(size).save(folder + QStringLiteral("/mendwell.png")))
            return 1;
        for (const auto& icon : icons) {
            const QImage scaled
                = icon.image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            if (!scaled.save(QStringLiteral("%1/%2.png").arg(folder, QString::fromLatin1(icon.name))))
                return 1;
        }
    }
    return 0;
}
