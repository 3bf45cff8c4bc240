// SPDX-License-Identifier: GPL-3.0-or-later
#include "messagebox.h"

#include "runerror.h"

#include <QCoreApplication>
#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& prompt, const QString& title)
{
    QMessageBox box(parent);
    box.setIcon(icon);
    box.setWindowTitle(title.isEmpty() ? QCoreApplication::applicationName() : title);
    box.setTextFormat(Qt::PlainText);
    QString shown = prompt;
    shown.replace(u"\r\n"_s, u"\n"_s);
    box.setText(shown);
    box.setProperty("prompt", prompt);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

}

void msgBox(QWidget* parent, const QString& prompt, int buttons, const QString& title)
{
    const QMessageBox::Icon icon
        = (buttons & MsgButtons::Information) ? QMessageBox::Information : QMessageBox::NoIcon;
    showBox(parent, icon, prompt, title);
}

void showRunError(QWidget* parent, const RunError& error)
{
    showBox(parent, QMessageBox::Critical, error.description(), {});
}
