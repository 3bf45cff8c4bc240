// SPDX-License-Identifier: GPL-3.0-or-later
#include "games.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace mending {

namespace {

QStringList sims2Executables()
{
    QStringList names { u"Sims2.exe"_s, u"Sims2RPC.exe"_s };
    for (int pack = 1; pack <= 9; ++pack)
        names.append(u"Sims2EP%1.exe"_s.arg(pack));
    for (int pack = 1; pack <= 9; ++pack)
        names.append(u"Sims2SP%1.exe"_s.arg(pack));
    return names;
}

// The depth limits are The Sims 4's, as its community documents them; the older games read their
// mods folders to a depth that their Resource.cfg (The Sims 3) or nothing public settles, so they
// have none here.
const std::array<GameRules, 4>& table()
{
    static const std::array<GameRules, 4> games { {
        {
            .generation = 1,
            .title = u"The Sims"_s,
            .modsFolder = "Downloads",
            .inInstallFolder = true,
            .folders = { { u"Downloads"_s, u"Downloads"_s }, { u"Skins"_s, u"GameData/Skins"_s },
                { u"Walls"_s, u"GameData/Walls"_s }, { u"Floors"_s, u"GameData/Floors"_s } },
            .caches = {},
            .executables = { u"Sims.exe"_s },
        },
        {
            .generation = 2,
            .title = u"The Sims 2"_s,
            .modsFolder = "Downloads",
            .folders = { { u"Downloads"_s, u"Downloads"_s } },
            .caches = { { u"Groups.cache"_s, {} }, { u"Accessory.cache"_s, {} },
                { u"Thumbnails"_s, u"Thumbnails.package"_s } },
            .executables = sims2Executables(),
        },
        {
            .generation = 3,
            .title = u"The Sims 3"_s,
            .modsFolder = "Mods/Packages",
            .folders = { { u"Mods/Packages"_s, u"Mods/Packages"_s } },
            .caches = { { u"CASPartCache.package"_s, {} }, { u"compositorCache.package"_s, {} },
                { u"scriptCache.package"_s, {} }, { u"simCompositorCache.package"_s, {} },
                { u"socialCache.package"_s, {} }, { u"WorldCaches"_s, u".package"_s } },
            .executables = { u"TS3W.exe"_s, u"TS3.exe"_s },
        },
        {
            .generation = 4,
            .title = u"The Sims 4"_s,
            .modsFolder = "Mods",
            .folders = { { u"Mods"_s, u"Mods"_s }, { u"Tray"_s, u"Tray"_s } },
            // The thumbnail cache holds pictures of the custom content that was loaded last time.
            .caches = { { u"localthumbcache.package"_s, {} } },
            .deepestPackage = 5,
            .deepestScript = 1,
            .hasTray = true,
            .executables = { u"TS4_x64.exe"_s, u"TS4_DX9_x64.exe"_s, u"TS4.exe"_s },
        },
    } };
    return games;
}

// The game names its own folder in the language it was installed in: "Die Sims 4", "Les Sims 4",
// "I Sims 4"... Only the article changes, so a known article (or none) before "Sims" is accepted and
// anything else ("Backup Sims 4", "The Sims 4 old") is not the game's folder.
const QString articles = u"(?:(?:the|die|der|les|le|la|los|las|el|de|het|i|il|gli|os|as|o|a|den|det)\\s+)?"_s;

bool endsWithFolders(const QByteArray& path, const QByteArray& folders)
{
    const QByteArray lowerPath = path.toLower();
    const QByteArray lowerFolders = folders.toLower();
    return lowerPath == lowerFolders || lowerPath.endsWith('/' + lowerFolders);
}

// The prefix as the files spell it: under Wine "mods" and "MODS" are the Mods folder too.
QByteArray matchingCase(const QList<FileEntry>& files, const QByteArray& prefix)
{
    const QByteArray lower = prefix.toLower();
    for (const FileEntry& file : files) {
        if (file.path.size() >= prefix.size() && file.path.first(prefix.size()).toLower() == lower)
            return file.path.first(prefix.size());
    }
    return prefix;
}

bool hasFolder(const QList<FileEntry>& files, const QByteArray& prefix)
{
    const QByteArray lower = prefix.toLower();
    return std::any_of(files.begin(), files.end(),
        [&lower](const FileEntry& file) { return file.path.toLower().startsWith(lower); });
}

}

const GameRules* gameRules(int generation)
{
    for (const GameRules& rules : table()) {
        if (rules.generation == generation)
            return &rules;
    }
    return nullptr;
}

int generationOfModsFolderName(const QString& name)
{
    int found = 0;
    for (const GameRules& rules : table()) {
        if (rules.modsFolder.contains('/')
            || name.compare(QFile::decodeName(rules.modsFolder), Qt::CaseInsensitive) != 0)
            continue;
        if (found != 0)
            return 0;
        found = rules.generation;
    }
    return found;
}

int foldersUpToGame(const GameRules& rules, const QString& kind)
{
    for (const GameFolderRule& folder : rules.folders) {
        if (folder.kind == kind)
            return int(folder.path.count(u'/')) + 1;
    }
    return 0;
}

int generationOfFolderName(const QString& name)
{
    static const QRegularExpression numbered(u"^"_s + articles
            + u"sims(?:\u2122|\\(tm\\))?\\s*([2-4])"
              u"(?:\\s+(?:ultimate collection|legacy collection|legacy edition|legacy|collection))?$"_s,
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    // The first game had no number: "The Sims", "Die Sims", "The Sims Complete Collection".
    static const QRegularExpression first(
        u"^"_s + articles + u"sims(?:\u2122|\\(tm\\))?(?:\\s+[\\p{L}\\s]+)?$"_s,
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    const QString trimmed = name.trimmed();
    const QRegularExpressionMatch match = numbered.match(trimmed);
    if (match.hasMatch())
        return match.captured(1).toInt();
    return first.match(trimmed).hasMatch() ? 1 : 0;
}

int generationOfPath(const QByteArray& path)
{
    const QList<QByteArray> parts = path.split('/');
    for (qsizetype i = parts.size() - 1; i >= 0; --i) {
        if (const int generation = generationOfFolderName(QFile::decodeName(parts.at(i))))
            return generation;
    }
    return 0;
}

// The rules of the folder's game: the one named, else the one its path tells, else The Sims 4's, the
// game most players with many mods have.
const GameRules& rulesOfFolder(const QByteArray& root, int generation)
{
    if (const GameRules* rules = gameRules(generation ? generation : generationOfPath(root)))
        return *rules;
    return *gameRules(4);
}

// Where the mods folder lies below root, as a prefix of the files' paths ("" when root is the mods
// folder itself): root may be the mods folder, a folder above it (the game's folder), or one of the
// folders on the way (The Sims 3's Mods above Packages). Rules count from the folder given or found,
// never from a second mods folder inside it.
QByteArray modsFolderWithin(const QByteArray& root, const QList<FileEntry>& files, const GameRules& rules)
{
    const QList<QByteArray> parts = rules.modsFolder.split('/');
    QByteArray cleanRoot = root;
    while (cleanRoot.endsWith('/') && cleanRoot.size() > 1)
        cleanRoot.chop(1);
    // The root is the mods folder, or the folders of its path from the first up to some point.
    for (qsizetype given = parts.size(); given >= 1; --given) {
        if (!cleanRoot.isEmpty() && endsWithFolders(cleanRoot, parts.first(given).join('/'))) {
            QByteArray rest;
            for (const QByteArray& part : parts.sliced(given))
                rest += part + '/';
            if (rest.isEmpty() || hasFolder(files, rest))
                return matchingCase(files, rest);
        }
    }
    // The game's folder was given: its mods folder is below.
    const QByteArray below = rules.modsFolder + '/';
    if (hasFolder(files, below))
        return matchingCase(files, below);
    return {};
}

}
