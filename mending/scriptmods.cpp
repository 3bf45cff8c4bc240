// SPDX-License-Identifier: GPL-3.0-or-later
#include "scriptmods.h"

#include "pathtext.h"
#include "scan.h"

#include <QMap>
#include <QSet>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

namespace mending {

namespace {

// The first four bytes of a compiled module: the number of its Python, then "\r\n".
int magicOf(zip_t* archive, zip_uint64_t index)
{
    zip_file_t* file = ::zip_fopen_index(archive, index, 0);
    if (!file)
        return -2;
    unsigned char head[4] = {};
    zip_int64_t got = 0;
    while (got < 4) {
        const zip_int64_t n = ::zip_fread(file, head + got, zip_uint64_t(4 - got));
        if (n <= 0)
            break;
        got += n;
    }
    const bool failed = got < 4 && ::zip_file_get_error(file)->zip_err != ZIP_ER_OK;
    ::zip_fclose(file);
    if (failed)
        return -2;
    if (got < 4 || head[2] != '\r' || head[3] != '\n')
        return -1;
    return head[0] | (head[1] << 8);
}

QString quoted(const QByteArray& path)
{
    return QLatin1Char('"') + displayPath(path) + QLatin1Char('"');
}

// "package.module" as Python names it; a package by its own name.
QString moduleText(QByteArray module)
{
    if (module.endsWith("/__init__"))
        module.chop(9);
    return displayPath(module.replace('/', '.'));
}

// "Python 3.8", or what is known of a number that belongs to no release.
QString pythonText(int magic)
{
    if (magic == -1)
        return QStringLiteral("no Python at all (the file does not start as a compiled module does)");
    const QString version = pythonVersionOfMagic(magic);
    if (version.isEmpty())
        return QStringLiteral("an unknown Python (number %1)").arg(magic);
    if (version == QLatin1String("3.7"))
        return QStringLiteral("a test release of Python 3.7 (number %1, not the %2 of the release)")
            .arg(magic)
            .arg(gamePythonMagic);
    return QStringLiteral("Python %1").arg(version);
}

// "3 of its 12 compiled modules, e.g. "pkg/m.pyc"", or "its only compiled module, "m.pyc"".
QString countText(const QList<ScriptModule>& wrong, qsizetype compiled)
{
    const QString example = quoted(wrong.first().entry);
    if (compiled == 1)
        return QStringLiteral("its only compiled module, %1").arg(example);
    if (wrong.size() == compiled)
        return QStringLiteral("all %1 of its compiled modules, e.g. %2").arg(compiled).arg(example);
    return QStringLiteral("%1 of its %2 compiled modules, e.g. %3")
        .arg(wrong.size())
        .arg(compiled)
        .arg(example);
}

QSet<QByteArray> modulesOf(const ScriptMod& mod)
{
    QSet<QByteArray> names;
    for (const ScriptModule& module : mod.modules)
        names.insert(moduleOfEntry(module.entry));
    return names;
}

}

QString pythonVersionOfMagic(int magic)
{
    // From the list of numbers kept in CPython's importlib (_bootstrap_external.py): each release
    // used a range of them while it was being made.
    struct Range
    {
        int first;
        int last;
        const char* version;
    };
    static const Range ranges[] = {
        { 20121, 20121, "1.5" },
        { 50428, 50428, "1.6" },
        { 50823, 50823, "2.0" },
        { 60202, 60202, "2.1" },
        { 60717, 60717, "2.2" },
        { 62011, 62021, "2.3" },
        { 62041, 62061, "2.4" },
        { 62071, 62131, "2.5" },
        { 62151, 62161, "2.6" },
        { 62171, 62211, "2.7" },
        { 3000, 3131, "3.0" },
        { 3141, 3151, "3.1" },
        { 3160, 3180, "3.2" },
        { 3190, 3230, "3.3" },
        { 3250, 3310, "3.4" },
        { 3320, 3351, "3.5" },
        { 3360, 3379, "3.6" },
        { 3390, 3394, "3.7" },
        { 3400, 3413, "3.8" },
        { 3420, 3425, "3.9" },
        { 3430, 3439, "3.10" },
    };
    for (const Range& range : ranges) {
        if (magic >= range.first && magic <= range.last)
            return QLatin1String(range.version);
    }
    // From 3.11 on, Python 3.n takes the numbers from 2900 + 50 n.
    if (magic >= 3450 && magic < 2900 + 50 * 40)
        return QStringLiteral("3.%1").arg((magic - 2900) / 50);
    return {};
}

QByteArray moduleOfEntry(const QByteArray& entry)
{
    if (entry.contains("__pycache__/") || entry.startsWith('/'))
        return {};
    QByteArray module;
    if (entry.endsWith(".pyc"))
        module = entry.chopped(4);
    else if (entry.endsWith(".py"))
        module = entry.chopped(3);
    // An __init__ outside any package belongs to no package the import could find.
    if (module.isEmpty() || module.endsWith('/') || module == "__init__")
        return {};
    return module;
}

ScriptMod readScriptMod(int folderFd, const QByteArray& path, QList<ScanProblem>& problems)
{
    ScriptMod mod;
    mod.path = path;
    const int fd = openBelow(folderFd, path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        problems.append({ path, errorText(errno).toUtf8() });
        return mod;
    }
    int error = 0;
    // Opened as the load check opens it: an archive it calls damaged provides no modules.
    zip_t* archive = ::zip_fdopen(fd, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive) {
        ::close(fd);
        return mod;
    }
    mod.opened = true;
    const zip_int64_t count = ::zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = ::zip_get_name(archive, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!name)
            continue;
        ScriptModule module { QByteArray(name), -2 };
        if (moduleOfEntry(module.entry).isEmpty())
            continue;
        if (module.compiled())
            module.magic = magicOf(archive, zip_uint64_t(i));
        mod.modules.append(module);
    }
    ::zip_discard(archive);
    return mod;
}

QList<ScriptMod> readScriptMods(const QByteArray& root, const QList<FileEntry>& files,
    const QList<qsizetype>& which, QList<ScanProblem>& problems)
{
    QList<ScriptMod> mods;
    const int rootFd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        problems.append({ {}, errorText(errno).toUtf8() });
        return mods;
    }
    const auto read = [&](const FileEntry& file) {
        if (file.kind == FileKind::Regular)
            mods.append(readScriptMod(rootFd, file.path, problems));
    };
    if (which.isEmpty()) {
        for (const FileEntry& file : files) {
            if (hasExtension(file.path, ".ts4script"))
                read(file);
        }
    } else {
        for (qsizetype index : which)
            read(files.at(index));
    }
    ::close(rootFd);
    return mods;
}

QList<ModuleClash> moduleClashes(const QList<ScriptMod>& mods)
{
    QMap<QByteArray, QList<qsizetype>> providers;
    for (qsizetype i = 0; i < mods.size(); ++i) {
        for (const QByteArray& module : modulesOf(mods.at(i)))
            providers[module].append(i);
    }
    QList<ModuleClash> clashes;
    for (auto it = providers.cbegin(); it != providers.cend(); ++it) {
        if (it->size() > 1)
            clashes.append({ it.key(), *it });
    }
    return clashes;
}

QList<ScriptModule> wrongPythonModules(const ScriptMod& mod)
{
    QList<ScriptModule> wrong;
    for (const ScriptModule& module : mod.modules) {
        if (module.compiled() && module.magic != -2 && module.magic != gamePythonMagic)
            wrong.append(module);
    }
    return wrong;
}

QHash<qsizetype, QList<SuspectFlag>> scriptModFlags(const QList<ScriptMod>& mods)
{
    QHash<qsizetype, QList<SuspectFlag>> flags;
    // The modules each pair of mods shares, so that a framework installed twice (hundreds of modules)
    // is one flag on each copy, not hundreds.
    QMap<std::pair<qsizetype, qsizetype>, QList<QByteArray>> shared;
    for (const ModuleClash& clash : moduleClashes(mods)) {
        for (qsizetype mod : clash.mods) {
            for (qsizetype other : clash.mods) {
                if (other != mod)
                    shared[{ mod, other }].append(clash.module);
            }
        }
    }
    for (auto it = shared.cbegin(); it != shared.cend(); ++it) {
        const qsizetype more = it->size() - 1;
        const QString modules = more == 0
            ? moduleText(it->first())
            : QStringLiteral("%1 and %2 more").arg(moduleText(it->first())).arg(more);
        flags[it.key().first].append({ Suspect::DuplicateModule,
            QStringLiteral("provides the same Python %1 as %2 (%3): the game loads only one of them, and "
                           "which one is not certain; keep one of the two (a mod installed twice, or "
                           "two versions side by side)")
                .arg(more == 0 ? QStringLiteral("module") : QStringLiteral("modules"),
                    quoted(mods.at(it.key().second).path), modules) });
    }
    for (qsizetype i = 0; i < mods.size(); ++i) {
        const QList<ScriptModule> wrong = wrongPythonModules(mods.at(i));
        if (wrong.isEmpty())
            continue;
        const qsizetype compiled = std::count_if(mods.at(i).modules.cbegin(), mods.at(i).modules.cend(),
            [](const ScriptModule& module) { return module.compiled(); });
        QStringList pythons;
        for (const ScriptModule& module : wrong) {
            if (const QString python = pythonText(module.magic); !pythons.contains(python))
                pythons.append(python);
        }
        flags[i].append({ Suspect::WrongPython,
            QStringLiteral("compiled for %1 (%2): The Sims 4 runs Python 3.7 and cannot load them; look "
                           "for a version of the mod made for the game as it is now")
                .arg(pythons.join(QLatin1String(" and ")), countText(wrong, compiled)) });
    }
    return flags;
}

}
