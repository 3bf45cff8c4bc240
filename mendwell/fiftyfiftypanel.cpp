// SPDX-License-Identifier: GPL-3.0-or-later
#include "fiftyfiftypanel.h"

#include "pathtext.h"
#include "windowbuttons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

using namespace mending;
using namespace Qt::StringLiterals;

namespace {

QString fileCountText(qsizetype files)
{
    return files == 1 ? FiftyFiftyPanel::tr("1 file")
                      : FiftyFiftyPanel::tr("%1 files").arg(QLocale().toString(files));
}

}

FiftyFiftyPanel::FiftyFiftyPanel(QWidget* parent)
    : QGroupBox(tr("Find the culprit: the guided 50/50"), parent)
{
    setObjectName(u"pnlFiftyFifty"_s);
    auto* layout = new QVBoxLayout(this);
    lblRound = new QLabel(this);
    lblRound->setObjectName(u"lblRound"_s);
    QFont bigger = lblRound->font();
    bigger.setBold(true);
    bigger.setPointSizeF(bigger.pointSizeF() * 1.25);
    lblRound->setFont(bigger);
    lblSummary = new QLabel(this);
    lblSummary->setObjectName(u"lblSummary"_s);
    lblSummary->setWordWrap(true);
    lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblRound);
    layout->addWidget(lblSummary);

    lblOut = new QLabel(this);
    lblOut->setObjectName(u"lblOut"_s);
    lblOut->setWordWrap(true);
    lblOut->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lstOut = new QListWidget(this);
    lstOut->setObjectName(u"lstOut"_s);
    lstOut->setUniformItemSizes(true);
    lstOut->setToolTip(
        tr("The files that are out of the game folder now, kept in the quarantine folder beside "
           "it. The game does not see them."));
    lstOut->setMinimumHeight(lstOut->fontMetrics().height() * 4);
    layout->addWidget(lblOut);
    layout->addWidget(lstOut, 1);

    auto* buttons = new QHBoxLayout;
    cmdWorks = windowButton(tr("The g&ame works now"), "cmdWorks",
        tr("Say so after you started the game and it worked: the culprit is then among the files out of the "
           "folder, and the next round keeps half of them out."),
        this);
    cmdBroken = windowButton(tr("Still &broken"), "cmdBroken",
        tr("Say so when the game still shows the trouble: the culprit is then among the files in the folder, "
           "and the next round moves half of those out."),
        this);
    cmdStop = windowButton(tr("Stop and put ever&ything back"), "cmdStop",
        tr("Ends the 50/50 now and brings every file it moved back into the game folder."), this);
    cmdRetry = windowButton(tr("Move the files &now"), "cmdRetry",
        tr("Moves the files this round needs, which could not move before (was the game running?)."), this);
    cmdCloseGuide = windowButton(tr("Close the &verdict"), "cmdCloseGuide",
        tr("Hides this guide. The culprit stays in the quarantine folder until you put it back."), this);
    buttons->addWidget(cmdWorks);
    buttons->addWidget(cmdBroken);
    buttons->addStretch(1);
    buttons->addWidget(cmdRetry);
    buttons->addWidget(cmdStop);
    buttons->addWidget(cmdCloseGuide);
    layout->addLayout(buttons);

    connect(cmdWorks, &QPushButton::clicked, this, &FiftyFiftyPanel::cmdWorks_Click);
    connect(cmdBroken, &QPushButton::clicked, this, &FiftyFiftyPanel::cmdBroken_Click);
    connect(cmdStop, &QPushButton::clicked, this, &FiftyFiftyPanel::cmdStop_Click);
    connect(cmdRetry, &QPushButton::clicked, this, &FiftyFiftyPanel::retryAsked);
    connect(cmdCloseGuide, &QPushButton::clicked, this, &FiftyFiftyPanel::closeAsked);
    updateButtons();
}

void FiftyFiftyPanel::showSession(
    const BisectSession& session, const QList<QByteArray>& filesOut, const QString& quarantine)
{
    m_round = session.round();
    m_running = session.running();
    m_movesPending = session.movesPending();
    QString summary = session.summary();
    switch (session.state()) {
    case BisectSession::State::Running: {
        lblRound->setText(tr("Round %1 of at most %2").arg(session.round() + 1).arg(session.mostRounds()));
        // The round is said in large letters just above.
        const QString said = lblRound->text() + u": "_s;
        if (summary.startsWith(said)) {
            summary = summary.mid(said.size());
            summary[0] = summary.at(0).toUpper();
        }
        break;
    }
    case BisectSession::State::CulpritFound:
        lblRound->setText(
            session.culprits().size() == 1 ? tr("The culprit is found") : tr("The culprits are found"));
        break;
    case BisectSession::State::NotAmongNew:
        lblRound->setText(tr("The culprit is not among the new files"));
        break;
    case BisectSession::State::Stopped:
        lblRound->setText(tr("The 50/50 was stopped"));
        break;
    }
    lblSummary->setText(summary);

    lstOut->clear();
    if (session.state() == BisectSession::State::CulpritFound)
        showCulprits(session, filesOut, quarantine);
    else
        showFilesOut(filesOut, quarantine);
    updateButtons();
}

// The verdict stands, but what it says of the culprit's files follows the folder: the player may have
// put them back since.
void FiftyFiftyPanel::showCulprits(
    const BisectSession& session, const QList<QByteArray>& filesOut, const QString& quarantine)
{
    const QSet<QByteArray> out(filesOut.cbegin(), filesOut.cend());
    QStringList keys;
    QList<QByteArray> files;
    for (const int culprit : session.culprits()) {
        keys.append(u'"' + session.groups().at(culprit).key + u'"');
        files += session.groups().at(culprit).paths;
    }
    QList<QByteArray> stillOut;
    for (const QByteArray& path : std::as_const(files)) {
        if (out.contains(path))
            stillOut.append(path);
    }
    const bool one = keys.size() == 1;
    if (stillOut.size() == files.size()) {
        lblOut->setText(one
                ? tr("Its files, kept out of the game folder in %1 (look for an update of this mod, "
                     "or leave it out; Put them back brings it back):")
                      .arg(quarantine)
                : tr("Their files, kept out of the game folder in %1 (look for updates of these "
                     "mods, or leave them out; Put them back brings them back):")
                      .arg(quarantine));
    } else if (stillOut.isEmpty()) {
        lblSummary->setText(
            (one ? tr("The 50/50 named %1 (%2). Its files are back in the game folder now, so the game loads "
                      "it again.")
                 : tr("The 50/50 named %1 (%2). Their files are back in the game folder now, so the game "
                      "loads them again."))
                .arg(keys.join(u", "_s), fileCountText(files.size())));
        showFilesOut(filesOut, quarantine);
        return;
    } else {
        lblOut->setText(one
                ? tr("Of its files, these are still out, in %1; the others are back in the game folder:")
                      .arg(quarantine)
                : tr("Of their files, these are still out, in %1; the others are back in the game folder:")
                      .arg(quarantine));
    }
    for (const QByteArray& path : std::as_const(stillOut))
        lstOut->addItem(displayPath(path));
}

void FiftyFiftyPanel::showFilesOut(const QList<QByteArray>& filesOut, const QString& quarantine)
{
    if (filesOut.isEmpty())
        lblOut->setText(m_running ? tr("No file is out of the game folder now.")
                                  : tr("Every file is back in the game folder."));
    else
        lblOut->setText(filesOut.size() == 1
                ? tr("1 file is out of the game folder now, in %1:").arg(quarantine)
                : tr("%1 files are out of the game folder now, in %2:")
                      .arg(QLocale().toString(filesOut.size()), quarantine));
    for (const QByteArray& path : filesOut)
        lstOut->addItem(displayPath(path));
}

void FiftyFiftyPanel::setBusy(bool busy)
{
    m_busy = busy;
    updateButtons();
}

void FiftyFiftyPanel::updateButtons()
{
    const bool canAnswer = !m_busy && m_running && !m_movesPending;
    cmdWorks->setVisible(m_running);
    cmdBroken->setVisible(m_running);
    cmdStop->setVisible(m_running);
    cmdWorks->setEnabled(canAnswer);
    cmdBroken->setEnabled(canAnswer);
    cmdStop->setEnabled(canAnswer);
    cmdRetry->setVisible(m_movesPending);
    cmdRetry->setEnabled(!m_busy && m_movesPending);
    cmdCloseGuide->setVisible(!m_running && !m_movesPending);
    cmdCloseGuide->setEnabled(!m_busy);
}

QPushButton* FiftyFiftyPanel::firstButton() const
{
    return m_running ? cmdWorks : cmdCloseGuide;
}

QList<QWidget*> FiftyFiftyPanel::tabOrder() const
{
    return { cmdWorks, cmdBroken, cmdRetry, cmdStop, cmdCloseGuide, lstOut };
}

void FiftyFiftyPanel::cmdWorks_Click()
{
    if (m_running && !m_busy)
        emit answered(BisectAnswer::Works, m_round);
}

void FiftyFiftyPanel::cmdBroken_Click()
{
    if (m_running && !m_busy)
        emit answered(BisectAnswer::Broken, m_round);
}

void FiftyFiftyPanel::cmdStop_Click()
{
    if (m_running && !m_busy)
        emit stopAsked();
}
