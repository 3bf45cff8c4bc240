// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// The separator of the locale's short date format, "/" where that format has none.
QChar dateSeparator(const QLocale& locale = QLocale::system());

// A date as "mm/dd/yy": two-digit month, day and year joined by the locale's date separator.
QString shortDateText(const QDate& date, const QLocale& locale = QLocale::system());
