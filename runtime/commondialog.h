// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QWidget;

// The Save As dialog as the classic common dialog control presents it: set the properties, call
// ShowSave, read FileName. With CancelError set, Cancel fails with error 32755.
class CommonDialog : public QObject
{
    Q_OBJECT
public:
    explicit CommonDialog(QWidget* parent);

    void setCancelError(bool on) { m_cancelError = on; }
    void setDefaultExt(const QString& extension) { m_defaultExt = extension; }
    void setFileName(const QString& name) { m_fileName = name; }
    QString FileName() const { return m_fileName; }
    // Pairs of description and pattern, all joined by "|".
    void setFilter(const QString& filter) { m_filter = filter; }
    // The folder the dialog opens in; the program's folder unless set.
    void setInitDir(const QString& folder) { m_initDir = folder; }

    void ShowSave();

    // The filter in Qt's form: "description (pattern);;...", each pattern matching without regard
    // to letter case.
    static QString qtFilter(const QString& filter);

private:
    QWidget* m_parent;
    bool m_cancelError = false;
    QString m_defaultExt;
    QString m_fileName;
    QString m_filter;
    QString m_initDir;
};
