// Brenvale on a folder of 100,000 plain files: Get Folder, ">>", List Folder and the save, each
// with the window really showing the result.
#include "benchtools.h"

#include "dirlistfrm.h"
#include "drives.h"
#include "filesystemboxes.h"
#include "listbox.h"
#include "listfile.h"
#include "textarea.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

static void settle(QWidget* window)
{
    QCoreApplication::processEvents();
    window->repaint();
}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int files = 100000;

    QTemporaryDir dir;
    const QString folder = dir.filePath(u"Downloads"_s);
    QDir().mkpath(folder);
    for (int i = 0; i < files; ++i) {
        // Mixed case and an order unlike the sorted one, as a real download folder has.
        const QByteArray name = QFile::encodeName(
            folder + u"/%1Object_%2.iff"_s.arg(QChar(i % 2 ? u'a' : u'B')).arg((i * 7919) % files));
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
    }
    std::printf("Brenvale, a folder of %d plain files\n", files);

    Drives::setRootsForTesting({ u"/"_s });
    DirListFrm window;
    window.show();
    auto* tree = window.findChild<DirListBox*>(u"Dir1"_s);
    auto* all = window.findChild<ListBox*>(u"lstAll"_s);
    auto* text = window.findChild<TextArea*>(u"dirCntTxt"_s);
    auto click
        = [&](const char* name) { window.findChild<QPushButton*>(QString::fromLatin1(name))->click(); };

    double getFolder = 1e300, rightAll = 1e300, listFolder = 1e300, open = 1e300;
    for (int run = 0; run < 3; ++run) {
        tree->setPath(dir.path());
        open = std::min(open, bestOf(1, [&] {
            tree->setPath(folder);
            settle(&window);
        }));
        getFolder = std::min(getFolder, bestOf(1, [&] {
            click("GetDirCmd");
            settle(&window);
        }));
        if (all->ListCount() != files)
            qFatal("Get Folder gathered %d names", all->ListCount());
        rightAll = std::min(rightAll, bestOf(1, [&] {
            click("cmdRightAll");
            settle(&window);
        }));
        listFolder = std::min(listFolder, bestOf(1, [&] {
            click("listDirCmd");
            settle(&window);
        }));
    }
    const QString listing = text->Text();
    const QString target = dir.filePath(u"list.TXT"_s);
    const double save = bestOf(5, [&] { saveListFile(target, listing); });
    if (QFileInfo(target).size() < files * 10)
        qFatal("the saved list is too short");

    report("folder change (file list filled)", open);
    report("Get Folder, sorted into All Files, shown", getFolder, 1000);
    report("  peer: ls -f | sort", shellMs(u"ls -f '%1' | sort > /dev/null"_s.arg(folder)));
    report("\">>\" to Selected Files, shown", rightAll, 300);
    report("List Folder into the text box, shown", listFolder, 500);
    report("Save: writing the list file", save, 200);
    report("  peer: cp of the same list", shellMs(u"cp '%1' '%1.copy'"_s.arg(target)));
    return 0;
}
