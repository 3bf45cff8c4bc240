// SPDX-License-Identifier: GPL-3.0-or-later
// Brenvale on folders of 10,000, 100,000 and 1,000,000 plain files: opening the folder, Get Folder,
// ">>", List Folder and the save, each with the window really showing the result, beside
// ls -f | LC_ALL=C sort (and cp for the save) on the same folder in the same run.
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

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void settle(QWidget* window)
{
    QCoreApplication::processEvents();
    window->repaint();
}

int entriesIn(const QString& folder)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count;
}

// The folders are made once and kept beside the benchmark: a million files take a while to create.
QString folderOf(int files)
{
    const QString folder
        = QCoreApplication::applicationDirPath() + u"/../bench-folders/%1/Downloads"_s.arg(files);
    if (entriesIn(folder) == files)
        return folder;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < files; ++i) {
        // Mixed case and an order unlike the sorted one, as a real download folder has.
        const QByteArray name = QFile::encodeName(
            folder + u"/%1Object_%2.iff"_s.arg(QChar(i % 2 ? u'a' : u'B')).arg((i * 7919) % files));
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
    }
    std::printf("(made the folder of %d files once, in %.1f s; it is kept for later runs)\n", files,
        timer.nsecsElapsed() / 1e9);
    return folder;
}

void measure(int files)
{
    const QString folder = folderOf(files);
    std::printf("\nBrenvale, a folder of %d plain files\n", files);
    std::fflush(stdout);

    DirListFrm window;
    window.show();
    auto* tree = window.findChild<DirListBox*>(u"Dir1"_s);
    auto* all = window.findChild<ListBox*>(u"lstAll"_s);
    auto* text = window.findChild<TextArea*>(u"dirCntTxt"_s);
    const auto click = [&](const char* name) {
        window.findChild<QPushButton*>(QString::fromLatin1(name))->click();
        settle(&window);
    };

    const int runs = files >= 1000000 ? 2 : 3;
    double getFolder = 1e300, rightAll = 1e300, listFolder = 1e300, open = 1e300;
    for (int run = 0; run < runs; ++run) {
        tree->setPath(QFileInfo(folder).path());
        settle(&window);
        open = std::min(open, bestOf(1, [&] {
            tree->setPath(folder);
            settle(&window);
        }));
        getFolder = std::min(getFolder, bestOf(1, [&] { click("GetDirCmd"); }));
        if (all->ListCount() != files)
            qFatal("Get Folder gathered %d names", all->ListCount());
        rightAll = std::min(rightAll, bestOf(1, [&] { click("cmdRightAll"); }));
        listFolder = std::min(listFolder, bestOf(1, [&] { click("listDirCmd"); }));
    }
    const QString listing = text->Text();
    const QString target = QFileInfo(folder).path() + u"/list.TXT"_s;
    const double save = bestOf(5, [&] { saveListFile(target, listing); });
    if (QFileInfo(target).size() < files * 10)
        qFatal("the saved list is too short");

    const double peer = shellMs(u"ls -f '%1' | LC_ALL=C sort > /dev/null"_s.arg(folder), runs + 2);
    reportAgainst("Get Folder, sorted into All Files, shown", getFolder, peer, 1);
    reportAgainst("opening the folder (file list filled)", open, peer, 0.5);
    reportAgainst("List Folder into the text box, shown", listFolder, peer, 0.5);
    std::printf("  %-50s %9.1f ms\n", "  peer: ls -f | LC_ALL=C sort", peer);
    report("\">>\" to Selected Files, shown", rightAll);
    report("Save: writing the list file", save);
    std::printf("  %-50s %9.1f ms\n", "  peer: cp of the same list",
        shellMs(u"cp '%1' '%1.copy' && sync '%1.copy'"_s.arg(target)));
    std::fflush(stdout);
}

}

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Drives::setRootsForTesting({ u"/"_s });
    // A size given as the argument measures that size alone.
    const QList<int> sizes
        = argc > 1 ? QList<int> { QByteArray(argv[1]).toInt() } : QList<int> { 10000, 100000, 1000000 };
    for (const int files : sizes)
        measure(files);
    return 0;
}
