// SPDX-License-Identifier: GPL-3.0-or-later
// Random bytes as one of the game's error reports: reading must not crash, hang or overread, each report
// keeps to the bounds the reader promises, and every frame found leads to the script mod that holds its
// module.
#include "errorreports.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<mending::ErrorReport> reports = mending::parseErrorReports(bytes);
    for (const mending::ErrorReport& report : reports) {
        if (report.repeats < 1 || report.frames.size() > 500 || report.error.size() > 1001
            || report.error.contains(u'\n') || report.time.contains(u'\n'))
            std::abort();
        // A mod holding the last two folders and the name of a frame's file is the frame's mod.
        for (const mending::TracebackFrame& frame : report.frames) {
            QString path = frame.path.trimmed();
            path.replace(u'\\', u'/');
            QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
            parts.removeAll(QStringLiteral("."));
            if (parts.size() < 2 || !parts.last().endsWith(QLatin1String(".py"))
                || parts.join(u'/').contains(QLatin1String(".ts4script")))
                continue;
            mending::ScriptMod mod;
            mod.path = "Mods/m.ts4script";
            mod.opened = true;
            mod.modules.append({ parts.sliced(parts.size() - 2).join(u'/').toUtf8() + 'c', 3394 });
            if (mending::moduleOfEntry(mod.modules.first().entry).isEmpty())
                continue;
            if (mending::ModuleFinder({ mod }).modsOf(frame.path) != QList<qsizetype> { 0 })
                std::abort();
        }
    }
    return 0;
}
