// SPDX-License-Identifier: GPL-3.0-or-later
#include "commondialog.h"

#include "folders.h"
#include "runerror.h"

#include <QDir>
#include <QFileDialog>

using namespace Qt::StringLiterals;

namespace {

// "*.TXT" becomes "*.[tT][xX][tT]", so the pattern matches whatever the file system's letter case.
QString anyCase(const QString& pattern)
{
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            result += u'[' + QString(c.toLower()) + QString(c.toUpper()) + u']';
        else
            result += c;
    }
    return result;
}

}

CommonDialog::CommonDialog(QWidget* parent)
    : QObject(parent)
    , m_parent(parent)
{
    setObjectName(u"CommonDialog"_s);
}

QString CommonDialog::qtFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            pattern = anyCase(pattern.trimmed());
        entries.append(parts.at(i) + u" ("_s + patterns.join(u' ') + u')');
    }
    return entries.join(u";;"_s);
}

void CommonDialog::ShowSave()
{
    QFileDialog dialog(m_parent);
    dialog.setObjectName(u"SaveAsDialog"_s);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDirectory(m_initDir.isEmpty() ? programFolder() : m_initDir);
    if (!m_filter.isEmpty())
        dialog.setNameFilter(qtFilter(m_filter));
    QString suffix = m_defaultExt;
    if (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        if (m_cancelError)
            throw RunError(ErrorNumber::Cancel, u"Cancel was selected."_s);
        m_fileName.clear();
        return;
    }
    m_fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}
