#include "newfiles.h"

#include <QHash>
#include <QSet>
#include <QStringView>

QStringList newFileNames(const QStringList& oldNames, const QStringList& newNames)
{
    QSet<QStringView> known;
    known.reserve(oldNames.size());
    for (const QString& name : oldNames)
        known.insert(QStringView(name));
    QStringList added;
    for (const QString& name : newNames) {
        if (!known.contains(QStringView(name)))
            added.append(name);
    }
    return added;
}

QString newFilesReport(const QStringList& names)
{
    static constexpr QStringView indent = u"        ";
    static constexpr QStringView lineEnd = u"\r\n";
    qsizetype length = 0;
    for (const QString& name : names)
        length += indent.size() + name.size() + lineEnd.size();
    QString report;
    report.reserve(length);
    for (const QString& name : names) {
        report.append(indent);
        report.append(name);
        report.append(lineEnd);
    }
    return report;
}
