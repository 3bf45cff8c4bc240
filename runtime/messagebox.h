// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;
class RunError;

// Button values of the classic message box: an OK button only, with no icon or the information icon.
namespace MsgButtons {
constexpr int OkOnly = 0;
constexpr int Information = 64;
}

// Shows a modal message box with an OK button. The prompt may hold CR LF line ends; the box keeps
// the prompt exactly as given in its "prompt" property. An empty title gives the program's name.
void msgBox(
    QWidget* parent, const QString& prompt, int buttons = MsgButtons::OkOnly, const QString& title = {});

// Shows a failure that no handler trapped: critical icon, the program's name as title.
void showRunError(QWidget* parent, const RunError& error);
