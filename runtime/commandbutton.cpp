// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandbutton.h"

#include <QKeyEvent>

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent)
{
    setAutoDefault(false);
    setDefault(false);
}

void CommandButton::keyPressEvent(QKeyEvent* event)
{
    // A push button that is not auto-default passes Enter on to its window; this one takes it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers chord = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && chord == Qt::NoModifier) {
        event->accept();
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QPushButton::keyPressEvent(event);
}
