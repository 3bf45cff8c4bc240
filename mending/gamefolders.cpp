// SPDX-License-Identifier: GPL-3.0-or-later
#include "gamefolders.h"

#include "games.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace mending {

QString runnerName(Runner runner)
{
    switch (runner) {
    case Runner::Native:
        return u"native"_s;
    case Runner::SteamProton:
        return u"Steam Proton"_s;
    case Runner::FlatpakSteam:
        return u"Flatpak Steam"_s;
    case Runner::Wine:
        return u"Wine"_s;
    case Runner::Lutris:
        return u"Lutris"_s;
    case Runner::Bottles:
        return u"Bottles"_s;
    }
    return {};
}

namespace {

// 2..4 from a Documents folder name, 0 when it is no game folder.
int documentsGeneration(const QString& name)
{
    const int generation = generationOfFolderName(name);
    return generation >= 2 ? generation : 0;
}

bool isFirstGameName(const QString& name)
{
    return generationOfFolderName(name) == 1;
}

QStringList subfolders(const QString& dir)
{
    return QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Windows programs under Wine spell names in any letter case, so "mods" and "MODS" are the Mods
// folder too. The exact spelling wins when several exist.
QString childNamed(const QString& dir, const QString& name, QDir::Filters filter = QDir::Dirs)
{
    const QString exact = dir + u'/' + name;
    const QFileInfo info(exact);
    if (info.exists() && ((filter & QDir::Dirs) ? info.isDir() : info.isFile()))
        return exact;
    const QStringList entries = QDir(dir).entryList(filter | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir + u'/' + entry;
    }
    return {};
}

QString childPath(const QString& dir, const QStringList& names)
{
    QString path = dir;
    for (const QString& name : names) {
        path = childNamed(path, name);
        if (path.isEmpty())
            return {};
    }
    return path;
}

QString expandHome(QString value, const QString& home)
{
    value.replace(u"${HOME}"_s, home);
    value.replace(u"$HOME"_s, home);
    return value;
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs, a shell fragment such as XDG_DOCUMENTS_DIR="$HOME/Dokumente".
QString documentsFromUserDirs(const QString& configHome, const QString& home)
{
    QFile file(configHome + u"/user-dirs.dirs"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression line(u"^\\s*XDG_DOCUMENTS_DIR\\s*=\\s*\"(.*)\"\\s*$"_s);
    while (!file.atEnd()) {
        const QString text = QString::fromUtf8(file.readLine()).trimmed();
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            return expandHome(match.captured(1).replace(u"\\\""_s, u"\""_s), home);
    }
    return {};
}

// Tokens of Valve's KeyValues text: quoted strings (with backslash escapes) and braces.
QStringList vdfTokens(const QByteArray& text)
{
    QStringList tokens;
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text.at(i);
        if (c == '"') {
            QByteArray value;
            ++i;
            while (i < text.size() && text.at(i) != '"') {
                if (text.at(i) == '\\' && i + 1 < text.size()) {
                    ++i;
                    const char e = text.at(i);
                    value.append(e == 'n' ? '\n' : e == 't' ? '\t' : e);
                } else {
                    value.append(text.at(i));
                }
                ++i;
            }
            ++i;
            tokens.append(QString::fromUtf8(value));
        } else if (c == '{' || c == '}') {
            tokens.append(QString(QLatin1Char(c)));
            ++i;
        } else if (c == '/' && i + 1 < text.size() && text.at(i + 1) == '/') {
            while (i < text.size() && text.at(i) != '\n')
                ++i;
        } else {
            ++i;
        }
    }
    return tokens;
}

// The Steam libraries a libraryfolders.vdf lists. Current Steam writes "N" { "path" "..." } blocks;
// older versions wrote "N" "..." pairs directly under "libraryfolders".
QStringList steamLibraries(const QString& vdfPath)
{
    QFile file(vdfPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList tokens = vdfTokens(file.readAll());
    QStringList libraries;
    int depth = 0;
    static const QRegularExpression number(u"^\\d+$"_s);
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QString& token = tokens.at(i);
        if (token == u"{"_s) {
            ++depth;
            continue;
        }
        if (token == u"}"_s) {
            --depth;
            continue;
        }
        if (i + 1 >= tokens.size() || tokens.at(i + 1) == u"{"_s || tokens.at(i + 1) == u"}"_s)
            continue;
        const QString& value = tokens.at(i + 1);
        const bool pathEntry = token.compare(u"path"_s, Qt::CaseInsensitive) == 0;
        const bool oldEntry = depth == 1 && number.match(token).hasMatch() && value.startsWith(u'/');
        if ((pathEntry || oldEntry) && !value.isEmpty())
            libraries.append(value);
        ++i;
    }
    return libraries;
}

class Finder
{
public:
    explicit Finder(const QProcessEnvironment& env)
    {
        m_home = env.value(u"HOME"_s, QDir::homePath());
        m_dataHome = env.value(u"XDG_DATA_HOME"_s);
        if (m_dataHome.isEmpty() || !QDir::isAbsolutePath(m_dataHome))
            m_dataHome = m_home + u"/.local/share"_s;
        m_configHome = env.value(u"XDG_CONFIG_HOME"_s);
        if (m_configHome.isEmpty() || !QDir::isAbsolutePath(m_configHome))
            m_configHome = m_home + u"/.config"_s;
        m_env = env;
    }

    QList<GameFolder> find()
    {
        scanNative();
        scanWine();
        scanLutris();
        scanBottles();
        scanSteam();
        std::stable_sort(m_found.begin(), m_found.end(), [](const GameFolder& a, const GameFolder& b) {
            if (a.generation != b.generation)
                return a.generation > b.generation;
            return a.path < b.path;
        });
        return m_found;
    }

private:
    void add(int generation, const QString& kind, Runner runner, const QString& path)
    {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty())
            return;
        const auto seen = m_index.constFind(canonical);
        if (seen != m_index.constEnd()) {
            // Wine links the prefix's Documents to the home's by default: the same folder is then
            // reached both ways, and the game really runs in the prefix.
            GameFolder& earlier = m_found[*seen];
            if (earlier.runner == Runner::Native && runner != Runner::Native)
                earlier.runner = runner;
            return;
        }
        m_index.insert(canonical, int(m_found.size()));
        m_found.append({ generation, kind, runner, canonical });
    }

    void scanDocuments(const QString& documents, Runner runner)
    {
        if (documents.isEmpty() || !QFileInfo(documents).isDir())
            return;
        for (const QString& publisher : { u"Electronic Arts"_s, u"EA Games"_s }) {
            const QString parent = childNamed(documents, publisher);
            if (parent.isEmpty())
                continue;
            for (const QString& name : subfolders(parent)) {
                const QString game = parent + u'/' + name;
                const GameRules* rules = gameRules(documentsGeneration(name));
                if (!rules)
                    continue;
                for (const GameFolderRule& folder : rules->folders)
                    addIfDir(rules->generation, folder.kind, runner, childPath(game, folder.path.split(u'/')));
            }
        }
    }

    void addIfDir(int generation, const QString& kind, Runner runner, const QString& path)
    {
        if (!path.isEmpty())
            add(generation, kind, runner, path);
    }

    // The first game keeps its downloads in its install folder, recognised by its GameData folder.
    void scanInstallParent(const QString& parent, Runner runner)
    {
        if (parent.isEmpty())
            return;
        for (const QString& name : subfolders(parent)) {
            if (!isFirstGameName(name))
                continue;
            const QString install = parent + u'/' + name;
            const QString gameData = childNamed(install, u"GameData"_s);
            if (gameData.isEmpty())
                continue;
            for (const GameFolderRule& folder : gameRules(1)->folders)
                addIfDir(1, folder.kind, runner, childPath(install, folder.path.split(u'/')));
        }
    }

    void scanPrefix(const QString& prefix, Runner runner)
    {
        const QString driveC = childNamed(prefix, u"drive_c"_s);
        if (driveC.isEmpty())
            return;
        const QString users = childNamed(driveC, u"users"_s);
        if (!users.isEmpty()) {
            for (const QString& user : subfolders(users)) {
                // Older Wine versions called it "My Documents".
                for (const QString& documents : { u"Documents"_s, u"My Documents"_s })
                    scanDocuments(childNamed(users + u'/' + user, documents), runner);
            }
        }
        QStringList programFolders;
        for (const QString& name : subfolders(driveC)) {
            if (name.startsWith(u"Program Files"_s, Qt::CaseInsensitive))
                programFolders.append(driveC + u'/' + name);
        }
        programFolders.append(driveC);
        for (const QString& programs : std::as_const(programFolders)) {
            scanInstallParent(programs, runner);
            for (const QString& vendor :
                { u"Maxis"_s, u"EA Games"_s, u"Electronic Arts"_s, u"Origin Games"_s, u"GOG Games"_s }) {
                scanInstallParent(childNamed(programs, vendor), runner);
            }
            scanInstallParent(childPath(programs, { u"GOG Galaxy"_s, u"Games"_s }), runner);
        }
    }

    void scanNative()
    {
        scanDocuments(m_home + u"/Documents"_s, Runner::Native);
        QString documents = expandHome(m_env.value(u"XDG_DOCUMENTS_DIR"_s), m_home);
        if (documents.isEmpty())
            documents = documentsFromUserDirs(m_configHome, m_home);
        if (QDir::isAbsolutePath(documents))
            scanDocuments(documents, Runner::Native);
    }

    void scanWine()
    {
        const QString prefix = m_env.value(u"WINEPREFIX"_s);
        if (QDir::isAbsolutePath(prefix))
            scanPrefix(prefix, Runner::Wine);
        scanPrefix(m_home + u"/.wine"_s, Runner::Wine);
    }

    void scanLutris()
    {
        const QString games = m_home + u"/Games"_s;
        for (const QString& name : subfolders(games))
            scanPrefix(games + u'/' + name, Runner::Lutris);
    }

    void scanBottles()
    {
        for (const QString& root : { m_dataHome + u"/bottles/bottles"_s,
                 m_home + u"/.var/app/com.usebottles.bottles/data/bottles/bottles"_s }) {
            for (const QString& name : subfolders(root))
                scanPrefix(root + u'/' + name, Runner::Bottles);
        }
    }

    void scanSteam()
    {
        const QList<std::pair<QString, Runner>> roots = {
            { m_dataHome + u"/Steam"_s, Runner::SteamProton },
            { m_home + u"/.local/share/Steam"_s, Runner::SteamProton },
            { m_home + u"/.steam/steam"_s, Runner::SteamProton },
            { m_home + u"/.steam/root"_s, Runner::SteamProton },
            { m_home + u"/.steam/debian-installation"_s, Runner::SteamProton },
            { m_home + u"/snap/steam/common/.local/share/Steam"_s, Runner::SteamProton },
            { m_home + u"/.var/app/com.valvesoftware.Steam/.local/share/Steam"_s, Runner::FlatpakSteam },
            { m_home + u"/.var/app/com.valvesoftware.Steam/data/Steam"_s, Runner::FlatpakSteam },
        };
        QSet<QString> seenLibraries;
        for (const auto& [root, runner] : roots) {
            if (!QFileInfo(root).isDir())
                continue;
            QStringList libraries { root };
            libraries += steamLibraries(root + u"/steamapps/libraryfolders.vdf"_s);
            libraries += steamLibraries(root + u"/config/libraryfolders.vdf"_s);
            for (const QString& library : std::as_const(libraries)) {
                const QString canonical = QFileInfo(library).canonicalFilePath();
                if (canonical.isEmpty() || seenLibraries.contains(canonical))
                    continue;
                seenLibraries.insert(canonical);
                scanSteamLibrary(canonical, runner);
            }
        }
    }

    void scanSteamLibrary(const QString& library, Runner runner)
    {
        const QString steamapps = childNamed(library, u"steamapps"_s);
        if (steamapps.isEmpty())
            return;
        // 1222670 is The Sims 4, but any game's prefix may hold the Documents of another (players
        // add the EA app or a non-Steam shortcut), so every prefix is looked at.
        const QString compatdata = childNamed(steamapps, u"compatdata"_s);
        if (!compatdata.isEmpty()) {
            for (const QString& app : subfolders(compatdata))
                scanPrefix(compatdata + u'/' + app + u"/pfx"_s, runner);
        }
        scanInstallParent(childNamed(steamapps, u"common"_s), runner);
    }

    QProcessEnvironment m_env;
    QString m_home;
    QString m_dataHome;
    QString m_configHome;
    QList<GameFolder> m_found;
    QHash<QString, int> m_index;
};

QString existingFile(const QString& dir, const QString& name)
{
    return dir.isEmpty() ? QString() : childNamed(dir, name, QDir::Files);
}

void appendFilesIn(QStringList& files, const QString& dir, const QString& suffix)
{
    if (dir.isEmpty())
        return;
    const QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (name.endsWith(suffix, Qt::CaseInsensitive))
            files.append(dir + u'/' + name);
    }
}

}

QList<GameFolder> findGameFolders(const QProcessEnvironment& env)
{
    return Finder(env).find();
}

QStringList gameExecutableNames(int generation)
{
    const GameRules* rules = gameRules(generation);
    return rules ? rules->executables : QStringList();
}

QStringList gameCacheFiles(const GameFolder& folder)
{
    const GameRules* rules = gameRules(folder.generation);
    if (!rules)
        return {};
    // A folder of no known kind is taken as the mods folder.
    int up = foldersUpToGame(*rules, folder.kind);
    if (up == 0)
        up = int(rules->modsFolder.count('/')) + 1;
    QString game = folder.path;
    for (int i = 0; i < up; ++i)
        game = QFileInfo(game).absolutePath();
    QStringList files;
    for (const GameCacheRule& cache : rules->caches) {
        if (cache.suffix.isEmpty()) {
            const QString file = existingFile(game, cache.path);
            if (!file.isEmpty())
                files.append(file);
        } else {
            appendFilesIn(files, childNamed(game, cache.path), cache.suffix);
        }
    }
    return files;
}

}
