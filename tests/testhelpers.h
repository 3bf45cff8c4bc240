// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "tmpfsmount.h"

#include <functional>

// One message box as the user saw it.
struct SeenBox
{
    QString title;
    QString text; // as shown
    QString prompt; // as the program gave it, line ends included
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the modal boxes a click opens: every message box is read and closed with OK; a Save As
// dialog gets the file name given (or is cancelled when none). Create it before the click.
class ModalAnswerer : public QObject
{
public:
    explicit ModalAnswerer(QString saveAs = {}, bool cancelSave = false)
        : m_saveAs(std::move(saveAs))
        , m_cancelSave(cancelSave)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    QList<SeenBox> boxes;
    int dialogs = 0;
    QString dialogFolder;
    QString dialogFileName;
    QStringList dialogFilters;
    QString dialogSuffix;
    bool dialogConfirmsOverwrite = true;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes.append(
                { box->windowTitle(), box->text(), box->property("prompt").toString(), box->icon() });
            box->button(QMessageBox::Ok)->click();
            return;
        }
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            ++dialogs;
            dialogFolder = dialog->directory().absolutePath();
            dialogFilters = dialog->nameFilters();
            dialogSuffix = dialog->defaultSuffix();
            dialogConfirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            dialogFileName = edit ? edit->text() : QString();
            if (m_cancelSave || m_saveAs.isEmpty()) {
                dialog->reject();
                return;
            }
            edit->setText(m_saveAs);
            static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        }
    }

    QTimer m_timer;
    QString m_saveAs;
    bool m_cancelSave;
};

template <typename T> T* child(QWidget* window, const char* name)
{
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(bytes);
}

inline void touchFiles(const QString& folder, const QStringList& names)
{
    for (const QString& name : names)
        writeBytes(QDir(folder).filePath(name), "x");
}
