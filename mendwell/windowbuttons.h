// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>

// A button of Mendwell's window: named for the tests and the accessibility tools, with a tooltip that
// teaches, and never a default button, so that Enter in a field does not press it.
inline QPushButton* windowButton(const QString& text, const char* name, const QString& tip, QWidget* parent)
{
    auto* made = new QPushButton(text, parent);
    made->setObjectName(QLatin1String(name));
    made->setToolTip(tip);
    made->setAutoDefault(false);
    return made;
}
