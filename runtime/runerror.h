// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// Error numbers follow the classic BASIC runtime, so a failure means the same in both programs.
namespace ErrorNumber {
constexpr int FileNotFound = 53;
constexpr int DiskFull = 61;
constexpr int DeviceUnavailable = 68;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
constexpr int InvalidPropertyValue = 380;
constexpr int InvalidPropertyArrayIndex = 381;
constexpr int PrinterError = 482;
constexpr int Cancel = 32755;
}

// The one failure type of the runtime: a number to act on and a sentence to show.
class RunError : public std::exception
{
public:
    RunError(int number, QString description);

    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};
