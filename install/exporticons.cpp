// Writes both programs' window icons as PNG files in the usual sizes, for the desktop menu.
// The 32-pixel drawings are scaled without smoothing, so the pixel art stays crisp.
#include "../comparison/pictures.h"
#include "../listing/pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

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
        for (const auto& icon : icons) {
            const QImage scaled
                = icon.image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            if (!scaled.save(QStringLiteral("%1/%2.png").arg(folder, QString::fromLatin1(icon.name))))
                return 1;
        }
    }
    return 0;
}
