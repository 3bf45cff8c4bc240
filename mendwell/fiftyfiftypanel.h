// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bisect.h"

#include <QGroupBox>

class QLabel;
class QListWidget;
class QPushButton;

// The guided 50/50 as the player follows it. lblRound names the round, lblSummary says what to do now
// (or gives the verdict) and lstOut lists the files out of the folder as they are now (at the end,
// the culprit's that are still out), so the pane never says other than the folder. The
// answer buttons only say which round they answer: the window moves the files off its thread and hands
// the session back to showSession(). While files move, setBusy() greys every button, so a second click
// cannot answer the same round twice; a late click still carries its round and is refused by the session.
class FiftyFiftyPanel : public QGroupBox
{
    Q_OBJECT
public:
    explicit FiftyFiftyPanel(QWidget* parent);

    void showSession(
        const mending::BisectSession& session, const QList<QByteArray>& filesOut, const QString& quarantine);
    void setBusy(bool busy);
    int shownRound() const { return m_round; }

    QPushButton* firstButton() const;
    QList<QWidget*> tabOrder() const;

signals:
    void answered(mending::BisectAnswer answer, int forRound);
    void stopAsked();
    void retryAsked();
    void closeAsked();

private:
    void cmdWorks_Click();
    void cmdBroken_Click();
    void cmdStop_Click();
    void updateButtons();
    void showCulprits(
        const mending::BisectSession& session, const QList<QByteArray>& filesOut, const QString& quarantine);
    void showFilesOut(const QList<QByteArray>& filesOut, const QString& quarantine);

    int m_round = -1;
    bool m_running = false;
    bool m_movesPending = false;
    bool m_busy = false;

    QLabel* lblRound = nullptr;
    QLabel* lblSummary = nullptr;
    QLabel* lblOut = nullptr;
    QListWidget* lstOut = nullptr;
    QPushButton* cmdWorks = nullptr;
    QPushButton* cmdBroken = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdRetry = nullptr;
    QPushButton* cmdCloseGuide = nullptr;
};
