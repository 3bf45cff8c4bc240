// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bisect.h"

#include <QGroupBox>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QVBoxLayout;

// The groups of a 50/50 side by side, one cell each, so the player sees the search narrow: the
// groups cleared, those suspected now, those to test later and the culprits found each have a colour
// (grey once the 50/50 ended without testing them further), and a group out of
// the game folder now is drawn hollow. Pointing at a cell names its group.
class GroupStrip : public QWidget
{
    Q_OBJECT
public:
    enum class Mark { Suspected, Later, Cleared, Culprit, Back };
    struct Cell
    {
        QString key;
        Mark mark = Mark::Suspected;
        bool out = false;
    };

    explicit GroupStrip(QWidget* parent);
    void setCells(QList<Cell> cells);
    static QColor colorOf(Mark mark);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF cellRect(qsizetype cell) const;
    qsizetype cellAt(QPoint point) const;

    QList<Cell> m_cells;
};

// The guided 50/50 as the player follows it. lblRound names the round, beside it grpStrip and
// lblGroups show every group as cleared, suspected, out now or found guilty; lblSummary says what to do now
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
    // Where to look first, from the game's own error reports; empty hides it.
    void setSuggestion(const QString& text);

    QPushButton* firstButton() const;
    QList<QWidget*> tabOrder() const;

signals:
    void answered(mending::BisectAnswer answer, int forRound);
    void stopAsked(int forRound);
    void retryAsked();
    void closeAsked();

private:
    void createRound(QVBoxLayout* layout);
    void createFilesOut(QVBoxLayout* layout);
    QHBoxLayout* createButtons();
    void cmdWorks_Click();
    void cmdBroken_Click();
    void cmdStop_Click();
    void updateButtons();
    void showCulprits(
        const mending::BisectSession& session, const QList<QByteArray>& filesOut, const QString& quarantine);
    void showFilesOut(const QList<QByteArray>& filesOut, const QString& quarantine);
    void showGroups(const mending::BisectSession& session, const QList<QByteArray>& filesOut);

    int m_round = -1;
    bool m_running = false;
    bool m_movesPending = false;
    bool m_busy = false;

    QLabel* lblRound = nullptr;
    GroupStrip* grpStrip = nullptr;
    QLabel* lblGroups = nullptr;
    QLabel* lblSummary = nullptr;
    QLabel* lblSuggestion = nullptr;
    QLabel* lblOut = nullptr;
    QListWidget* lstOut = nullptr;
    QPushButton* cmdWorks = nullptr;
    QPushButton* cmdBroken = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* cmdRetry = nullptr;
    QPushButton* cmdCloseGuide = nullptr;
};
