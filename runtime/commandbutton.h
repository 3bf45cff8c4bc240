// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>
#include <QString>

// A command button: Space or Enter on the focused button clicks it. It is never a default button,
// so Enter anywhere else in the window (in a text box, say) clicks nothing, and neither does Esc.
class CommandButton : public QPushButton
{
    Q_OBJECT
public:
    CommandButton(const QString& caption, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
