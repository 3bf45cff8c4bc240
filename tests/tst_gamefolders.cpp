// SPDX-License-Identifier: GPL-3.0-or-later
// Game folders found in made-up homes: every way the games are installed on Linux, each beside a look-alike
// that must not be taken for a game folder.
#include "gamefolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using mending::GameFolder;

namespace {

const QString ts4 = u"Documents/Electronic Arts/The Sims 4"_s;

// A line of a layout: "d PATH" makes a folder, "f PATH=TEXT" a file, "l PATH->TARGET" a symbolic link.
// "~" at the start of a path is the home, "%T" anywhere is the root of the made-up computer.
QString place(QString text, const QString& root)
{
    text.replace(u"%T"_s, root);
    if (text.startsWith(u'~'))
        text = root + u"/home"_s + text.mid(1);
    return text;
}

void build(const QStringList& layout, const QString& root)
{
    QDir().mkpath(root + u"/home"_s);
    for (const QString& line : layout) {
        const QChar what = line.at(0);
        const QString rest = line.mid(2);
        if (what == u'd') {
            QVERIFY2(QDir().mkpath(place(rest, root)), qPrintable(rest));
        } else if (what == u'f') {
            const qsizetype eq = rest.indexOf(u'=');
            const QString path = place(rest.left(eq), root);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
            file.write(place(rest.mid(eq + 1), root).toUtf8());
        } else if (what == u'l') {
            const qsizetype arrow = rest.indexOf(u"->"_s);
            const QString path = place(rest.left(arrow), root);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QVERIFY2(QFile::link(place(rest.mid(arrow + 2), root), path), qPrintable(path));
        }
    }
}

QString describe(const GameFolder& folder, const QString& root)
{
    QString path = folder.path;
    if (path.startsWith(root + u"/home/"_s))
        path = u"~"_s + path.mid(root.size() + 5);
    else if (path.startsWith(root))
        path = u"%T"_s + path.mid(root.size());
    return u"%1|%2|%3|%4"_s.arg(folder.generation).arg(folder.kind, mending::runnerName(folder.runner), path);
}

}

class TestGameFolders : public QObject
{
    Q_OBJECT

private slots:
    void findGameFolders_data();
    void findGameFolders();
    void gameCacheFiles_data();
    void gameCacheFiles();
};

void TestGameFolders::findGameFolders_data()
{
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("expected");

    const QStringList none;

    QTest::newRow("native Mods") << QStringList { u"d ~/"_s + ts4 + u"/Mods"_s } << none
                                 << QStringList { u"4|Mods|native|~/"_s + ts4 + u"/Mods"_s };
    QTest::newRow("native game folder without Mods")
        << QStringList { u"d ~/"_s + ts4 + u"/Saves"_s, u"f ~/"_s + ts4 + u"/Options.ini=x"_s } << none
        << none;
    QTest::newRow("Mods is a file, not a folder")
        << QStringList { u"f ~/"_s + ts4 + u"/Mods=x"_s } << none << none;
    QTest::newRow("Tray beside Mods")
        << QStringList { u"d ~/"_s + ts4 + u"/Mods"_s, u"d ~/"_s + ts4 + u"/Tray"_s } << none
        << QStringList { u"4|Mods|native|~/"_s + ts4 + u"/Mods"_s, u"4|Tray|native|~/"_s + ts4 + u"/Tray"_s };
    QTest::newRow("letter case as Windows leaves it")
        << QStringList { u"d ~/Documents/electronic arts/THE SIMS 4/mods"_s } << none
        << QStringList { u"4|Mods|native|~/Documents/electronic arts/THE SIMS 4/mods"_s };

    for (const QString& name : { u"Die Sims 4"_s, u"Les Sims 4"_s, u"Los Sims 4"_s, u"De Sims 4"_s,
             u"I Sims 4"_s, u"The Sims\u2122 4"_s }) {
        const QString mods = u"~/Documents/Electronic Arts/"_s + name + u"/Mods"_s;
        QTest::newRow(qPrintable(u"localised: "_s + name))
            << QStringList { u"d "_s + mods } << none << QStringList { u"4|Mods|native|"_s + mods };
    }
    for (const QString& name : { u"The Sims 4 Backup"_s, u"Backup Sims 4"_s, u"The Sims 40"_s,
             u"The Sims 4 (old)"_s, u"Sims 4 Studio"_s, u"The Sims 5"_s }) {
        QTest::newRow(qPrintable(u"look-alike: "_s + name))
            << QStringList { u"d ~/Documents/Electronic Arts/"_s + name + u"/Mods"_s } << none << none;
    }

    QTest::newRow("documents folder from the environment")
        << QStringList { u"d ~/Dokumente/Electronic Arts/Die Sims 4/Mods"_s }
        << QStringList { u"XDG_DOCUMENTS_DIR=%T/home/Dokumente"_s }
        << QStringList { u"4|Mods|native|~/Dokumente/Electronic Arts/Die Sims 4/Mods"_s };
    QTest::newRow("documents folder from user-dirs.dirs")
        << QStringList { u"d ~/Dokumente/Electronic Arts/Die Sims 4/Mods"_s,
               u"f ~/.config/user-dirs.dirs=# written by xdg-user-dirs-update\n"
               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"_s }
        << none << QStringList { u"4|Mods|native|~/Dokumente/Electronic Arts/Die Sims 4/Mods"_s };
    QTest::newRow("user-dirs.dirs in XDG_CONFIG_HOME")
        << QStringList { u"d ~/Docs/Electronic Arts/The Sims 4/Mods"_s,
               u"f ~/cfg/user-dirs.dirs=XDG_DOCUMENTS_DIR=\"${HOME}/Docs\"\n"_s,
               u"f ~/.config/user-dirs.dirs=XDG_DOCUMENTS_DIR=\"$HOME/Elsewhere\"\n"_s,
               u"d ~/Elsewhere/Electronic Arts/The Sims 3/Mods/Packages"_s }
        << QStringList { u"XDG_CONFIG_HOME=%T/home/cfg"_s }
        << QStringList { u"4|Mods|native|~/Docs/Electronic Arts/The Sims 4/Mods"_s };
    QTest::newRow("documents folder not named anywhere")
        << QStringList { u"d ~/Dokumente/Electronic Arts/Die Sims 4/Mods"_s } << none << none;

    QTest::newRow("The Sims 3 Mods/Packages")
        << QStringList { u"d ~/Documents/Electronic Arts/The Sims 3/Mods/Packages"_s } << none
        << QStringList { u"3|Mods/Packages|native|~/Documents/Electronic Arts/The Sims 3/Mods/Packages"_s };
    QTest::newRow("The Sims 3 Mods without Packages")
        << QStringList { u"d ~/Documents/Electronic Arts/The Sims 3/Mods/Overrides"_s } << none << none;
    QTest::newRow("The Sims 2 Downloads")
        << QStringList { u"d ~/Documents/EA Games/The Sims 2/Downloads"_s } << none
        << QStringList { u"2|Downloads|native|~/Documents/EA Games/The Sims 2/Downloads"_s };
    QTest::newRow("The Sims 2 Ultimate Collection")
        << QStringList { u"d ~/Documents/EA Games/The Sims\u2122 2 Ultimate Collection/Downloads"_s } << none
        << QStringList {
               u"2|Downloads|native|~/Documents/EA Games/The Sims\u2122 2 Ultimate Collection/Downloads"_s
           };
    QTest::newRow("The Sims 2 without Downloads")
        << QStringList { u"d ~/Documents/EA Games/The Sims 2/Neighborhoods"_s } << none << none;

    const QString proton
        = u"~/.local/share/Steam/steamapps/compatdata/1222670/pfx/drive_c/users/steamuser/"_s;
    QTest::newRow("Steam Proton") << QStringList { u"d "_s + proton + ts4 + u"/Mods"_s } << none
                                  << QStringList { u"4|Mods|Steam Proton|"_s + proton + ts4 + u"/Mods"_s };
    QTest::newRow("empty Proton prefix") << QStringList {
        u"d ~/.local/share/Steam/steamapps/compatdata/1222670/pfx/drive_c/users/steamuser/Documents"_s
    } << none << none;
    const QString sims3Proton
        = u"~/.local/share/Steam/steamapps/compatdata/47890/pfx/drive_c/users/steamuser/"_s;
    QTest::newRow("any Proton prefix")
        << QStringList { u"d "_s + sims3Proton + u"Documents/Electronic Arts/The Sims 3/Mods/Packages"_s }
        << none
        << QStringList { u"3|Mods/Packages|Steam Proton|"_s + sims3Proton
               + u"Documents/Electronic Arts/The Sims 3/Mods/Packages"_s };
    QTest::newRow("Steam under XDG_DATA_HOME")
        << QStringList { u"d ~/data/Steam/steamapps/compatdata/1222670/pfx/drive_c/users/steamuser/"_s + ts4
               + u"/Mods"_s }
        << QStringList { u"XDG_DATA_HOME=%T/home/data"_s }
        << QStringList { u"4|Mods|Steam Proton|~/data/Steam/steamapps/compatdata/1222670/pfx/drive_c/users/"
                         "steamuser/"_s
               + ts4 + u"/Mods"_s };
    QTest::newRow("Steam reached through ~/.steam links") << QStringList {
        u"d "_s + proton + ts4 + u"/Mods"_s, u"l ~/.steam/steam->%T/home/.local/share/Steam"_s,
        u"l ~/.steam/root->%T/home/.local/share/Steam"_s
    } << none << QStringList { u"4|Mods|Steam Proton|"_s + proton + ts4 + u"/Mods"_s };

    const QString library = u"%T/mnt/games/SteamLibrary"_s;
    const QString libraryDocs = library + u"/steamapps/compatdata/1222670/pfx/drive_c/users/steamuser/"_s;
    QTest::newRow("Steam library on another drive")
        << QStringList { u"d ~/.local/share/Steam/steamapps"_s,
               u"f ~/.local/share/Steam/steamapps/libraryfolders.vdf=\"libraryfolders\"\n{\n"
               "\t\"0\"\n\t{\n\t\t\"path\"\t\t\"%T/home/.local/share/Steam\"\n\t\t\"label\"\t\t\"\"\n"
               "\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"0\"\n\t\t}\n\t}\n"
               "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"%T/mnt/games/SteamLibrary\"\n\t\t\"label\"\t\t\"Games\"\n"
               "\t\t\"apps\"\n\t\t{\n\t\t\t\"1222670\"\t\t\"63011208454\"\n\t\t}\n\t}\n}\n"_s,
               u"d "_s + libraryDocs + ts4 + u"/Mods"_s }
        << none << QStringList { u"4|Mods|Steam Proton|"_s + libraryDocs + ts4 + u"/Mods"_s };
    QTest::newRow("Steam library in the older libraryfolders.vdf")
        << QStringList { u"f ~/.local/share/Steam/steamapps/libraryfolders.vdf=\"LibraryFolders\"\n{\n"
                         "\t\"TimeNextStatsReport\"\t\t\"1638483045\"\n"
                         "\t\"ContentStatsID\"\t\t\"-4389043096830303030\"\n"
                         "\t\"1\"\t\t\"%T/mnt/games/SteamLibrary\"\n}\n"_s,
               u"d "_s + libraryDocs + ts4 + u"/Mods"_s }
        << none << QStringList { u"4|Mods|Steam Proton|"_s + libraryDocs + ts4 + u"/Mods"_s };
    QTest::newRow("Steam library that no libraryfolders.vdf lists")
        << QStringList { u"d ~/.local/share/Steam/steamapps"_s, u"d "_s + libraryDocs + ts4 + u"/Mods"_s }
        << none << none;

    const QString flatpak
        = u"~/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/1222670/pfx/"
          "drive_c/users/steamuser/"_s;
    QTest::newRow("Flatpak Steam") << QStringList { u"d "_s + flatpak + ts4 + u"/Mods"_s } << none
                                   << QStringList { u"4|Mods|Flatpak Steam|"_s + flatpak + ts4 + u"/Mods"_s };
    QTest::newRow("Flatpak Steam, empty prefix")
        << QStringList { u"d "_s + flatpak + u"Documents"_s } << none << none;

    QTest::newRow("Wine, any user name")
        << QStringList { u"d ~/.wine/drive_c/users/alice/"_s + ts4 + u"/Mods"_s } << none
        << QStringList { u"4|Mods|Wine|~/.wine/drive_c/users/alice/"_s + ts4 + u"/Mods"_s };
    QTest::newRow("Wine, older My Documents")
        << QStringList { u"d ~/.wine/drive_c/users/alice/My Documents/EA Games/The Sims 2/Downloads"_s }
        << none
        << QStringList {
               u"2|Downloads|Wine|~/.wine/drive_c/users/alice/My Documents/EA Games/The Sims 2/Downloads"_s
           };
    QTest::newRow("Wine prefix from WINEPREFIX")
        << QStringList { u"d ~/sims-prefix/drive_c/users/bob/"_s + ts4 + u"/Mods"_s }
        << QStringList { u"WINEPREFIX=%T/home/sims-prefix"_s }
        << QStringList { u"4|Mods|Wine|~/sims-prefix/drive_c/users/bob/"_s + ts4 + u"/Mods"_s };
    QTest::newRow("Wine prefix that no variable names")
        << QStringList { u"d ~/sims-prefix/drive_c/users/bob/"_s + ts4 + u"/Mods"_s } << none << none;
    QTest::newRow("Wine Documents linked to the home's")
        << QStringList { u"d ~/"_s + ts4 + u"/Mods"_s, u"d ~/.wine/drive_c/users/alice"_s,
               u"l ~/.wine/drive_c/users/alice/Documents->%T/home/Documents"_s }
        << none << QStringList { u"4|Mods|Wine|~/"_s + ts4 + u"/Mods"_s };

    QTest::newRow("Lutris") << QStringList { u"d ~/Games/the-sims-4/drive_c/users/carol/"_s + ts4
        + u"/Mods"_s } << none
                            << QStringList { u"4|Mods|Lutris|~/Games/the-sims-4/drive_c/users/carol/"_s + ts4
                                   + u"/Mods"_s };
    QTest::newRow("Lutris folder that is no prefix")
        << QStringList { u"d ~/Games/the-sims-4/users/carol/"_s + ts4 + u"/Mods"_s } << none << none;

    QTest::newRow("Bottles")
        << QStringList { u"d ~/.local/share/bottles/bottles/Sims/drive_c/users/dave/"_s + ts4 + u"/Mods"_s }
        << none
        << QStringList { u"4|Mods|Bottles|~/.local/share/bottles/bottles/Sims/drive_c/users/dave/"_s + ts4
               + u"/Mods"_s };
    QTest::newRow("Bottles under XDG_DATA_HOME")
        << QStringList { u"d ~/data/bottles/bottles/Sims/drive_c/users/dave/"_s + ts4 + u"/Mods"_s }
        << QStringList { u"XDG_DATA_HOME=%T/home/data"_s }
        << QStringList { u"4|Mods|Bottles|~/data/bottles/bottles/Sims/drive_c/users/dave/"_s + ts4
               + u"/Mods"_s };

    const QString sims1 = u"~/.wine/drive_c/Program Files (x86)/Maxis/The Sims"_s;
    QTest::newRow("The Sims 1 install folder")
        << QStringList { u"d "_s + sims1 + u"/Downloads"_s, u"d "_s + sims1 + u"/GameData/Skins"_s } << none
        << QStringList { u"1|Downloads|Wine|"_s + sims1 + u"/Downloads"_s,
               u"1|Skins|Wine|"_s + sims1 + u"/GameData/Skins"_s };
    QTest::newRow("The Sims 1 folder without GameData")
        << QStringList { u"d "_s + sims1 + u"/Downloads"_s } << none << none;
    const QString common = u"~/.local/share/Steam/steamapps/common/The Sims Legacy Collection"_s;
    QTest::newRow("The Sims 1 in a Steam library")
        << QStringList { u"d "_s + common + u"/Downloads"_s, u"d "_s + common + u"/GameData/Skins"_s,
               u"d ~/.local/share/Steam/steamapps/common/Half-Life/GameData/Skins"_s }
        << none
        << QStringList { u"1|Downloads|Steam Proton|"_s + common + u"/Downloads"_s,
               u"1|Skins|Steam Proton|"_s + common + u"/GameData/Skins"_s };

    QTest::newRow("every generation, sorted")
        << QStringList { u"d ~/Documents/EA Games/The Sims 2/Downloads"_s,
               u"d ~/Documents/Electronic Arts/The Sims 3/Mods/Packages"_s, u"d ~/"_s + ts4 + u"/Mods"_s,
               u"d ~/.wine/drive_c/users/alice/"_s + ts4 + u"/Mods"_s,
               u"d "_s + sims1 + u"/GameData/Skins"_s }
        << none
        << QStringList { u"4|Mods|Wine|~/.wine/drive_c/users/alice/"_s + ts4 + u"/Mods"_s,
               u"4|Mods|native|~/"_s + ts4 + u"/Mods"_s,
               u"3|Mods/Packages|native|~/Documents/Electronic Arts/The Sims 3/Mods/Packages"_s,
               u"2|Downloads|native|~/Documents/EA Games/The Sims 2/Downloads"_s,
               u"1|Skins|Wine|"_s + sims1 + u"/GameData/Skins"_s };
}

void TestGameFolders::findGameFolders()
{
    QFETCH(QStringList, layout);
    QFETCH(QStringList, environment);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = QFileInfo(dir.path()).canonicalFilePath();
    build(layout, root);
    if (QTest::currentTestFailed())
        return;

    QProcessEnvironment env;
    env.insert(u"HOME"_s, root + u"/home"_s);
    for (const QString& pair : std::as_const(environment)) {
        const qsizetype eq = pair.indexOf(u'=');
        env.insert(pair.left(eq), place(pair.mid(eq + 1), root));
    }

    QStringList found;
    for (const GameFolder& folder : mending::findGameFolders(env))
        found.append(describe(folder, root));
    QCOMPARE(found, expected);
}

void TestGameFolders::gameCacheFiles_data()
{
    QTest::addColumn<QStringList>("layout");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("generation");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("The Sims 4 thumbnail cache")
        << QStringList { u"d ~/"_s + ts4 + u"/Mods"_s, u"f ~/"_s + ts4 + u"/localthumbcache.package=DBPF"_s,
               u"f ~/"_s + ts4 + u"/Options.ini=x"_s }
        << u"~/"_s + ts4 + u"/Mods"_s << 4 << QStringList { u"~/"_s + ts4 + u"/localthumbcache.package"_s };
    QTest::newRow("The Sims 4 before its first start")
        << QStringList { u"d ~/"_s + ts4 + u"/Mods"_s } << u"~/"_s + ts4 + u"/Mods"_s << 4 << QStringList {};
    const QString sims3 = u"~/Documents/Electronic Arts/The Sims 3"_s;
    QTest::newRow("The Sims 3 caches")
        << QStringList { u"d "_s + sims3 + u"/Mods/Packages"_s,
               u"f "_s + sims3 + u"/CASPartCache.package=x"_s, u"f "_s + sims3 + u"/scriptCache.package=x"_s,
               u"f "_s + sims3 + u"/WorldCaches/Sunset Valley.package=x"_s,
               u"f "_s + sims3 + u"/Mods/Resource.cfg=x"_s }
        << sims3 + u"/Mods/Packages"_s << 3
        << QStringList { sims3 + u"/CASPartCache.package"_s, sims3 + u"/scriptCache.package"_s,
               sims3 + u"/WorldCaches/Sunset Valley.package"_s };
    const QString sims2 = u"~/Documents/EA Games/The Sims 2"_s;
    QTest::newRow("The Sims 2 caches")
        << QStringList { u"d "_s + sims2 + u"/Downloads"_s, u"f "_s + sims2 + u"/Groups.cache=x"_s,
               u"f "_s + sims2 + u"/Thumbnails/CASThumbnails.package=x"_s,
               u"f "_s + sims2 + u"/Thumbnails/readme.txt=x"_s }
        << sims2 + u"/Downloads"_s << 2
        << QStringList { sims2 + u"/Groups.cache"_s, sims2 + u"/Thumbnails/CASThumbnails.package"_s };
}

void TestGameFolders::gameCacheFiles()
{
    QFETCH(QStringList, layout);
    QFETCH(QString, folder);
    QFETCH(int, generation);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = QFileInfo(dir.path()).canonicalFilePath();
    build(layout, root);
    GameFolder game;
    game.generation = generation;
    game.kind = u"Mods"_s;
    game.path = place(folder, root);
    for (QString& path : expected)
        path = place(path, root);
    QCOMPARE(mending::gameCacheFiles(game), expected);
}

QTEST_GUILESS_MAIN(TestGameFolders)
#include "tst_gamefolders.moc"
