// SPDX-License-Identifier: GPL-3.0-or-later
#include "fiftyfiftypanel.h"

#include "report.h"

#include "changesmodel.h"
#include "windowbuttons.h"

#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QVBoxLayout>

using namespace mending;
using namespace Qt::StringLiterals;

namespace {

QString fileCountText(qsizetype files)
{
    return files == 1 ? FiftyFiftyPanel::tr("1 file") : FiftyFiftyPanel::tr("%1 files").arg(countText(files));
}

QString markText(GroupStrip::Mark mark)
{
    switch (mark) {
    case GroupStrip::Mark::Suspected:
        return FiftyFiftyPanel::tr("still suspected");
    case GroupStrip::Mark::Cleared:
        return FiftyFiftyPanel::tr("cleared");
    case GroupStrip::Mark::Culprit:
        return FiftyFiftyPanel::tr("culprit");
    case GroupStrip::Mark::Later:
        return FiftyFiftyPanel::tr("to test later");
    case GroupStrip::Mark::Back:
        return FiftyFiftyPanel::tr("not tested further");
    }
    return {};
}

GroupStrip::Mark markOf(const BisectSession& session, int group)
{
    if (session.culprits().contains(group))
        return GroupStrip::Mark::Culprit;
    if (session.cleared().contains(group))
        return GroupStrip::Mark::Cleared;
    // Broken with every new group out: none of them is the cause.
    if (session.state() == BisectSession::State::NotAmongNew)
        return GroupStrip::Mark::Cleared;
    if (!session.running())
        return GroupStrip::Mark::Back;
    // The search narrows among the suspects (before the first answer, every group); the other groups
    // not cleared wait for their turn.
    const QList<int> suspects = session.suspects();
    return suspects.isEmpty() || suspects.contains(group) ? GroupStrip::Mark::Suspected
                                                          : GroupStrip::Mark::Later;
}

}

GroupStrip::GroupStrip(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"grpStrip"_s);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void GroupStrip::setCells(QList<Cell> cells)
{
    m_cells = std::move(cells);
    update();
}

QColor GroupStrip::colorOf(Mark mark)
{
    switch (mark) {
    case Mark::Suspected:
        return QColor(0xd9, 0x8c, 0x00);
    case Mark::Cleared:
        return QColor(0x2e, 0x8b, 0x3e);
    case Mark::Culprit:
        return QColor(0xc0, 0x28, 0x1c);
    case Mark::Later:
        return QColor(0x6a, 0x8c, 0xc8);
    case Mark::Back:
        break;
    }
    return QColor(0x8a, 0x8a, 0x8a);
}

QSize GroupStrip::sizeHint() const
{
    const int line = fontMetrics().height();
    return { int(m_cells.size()) * line, line + 4 };
}

QSize GroupStrip::minimumSizeHint() const
{
    return { fontMetrics().height() * 4, fontMetrics().height() + 4 };
}

// Cells share the width; with many groups they grow thin, but never thinner than a pixel and a gap.
QRectF GroupStrip::cellRect(qsizetype cell) const
{
    const qreal width = qreal(contentsRect().width()) / std::max<qsizetype>(m_cells.size(), 1);
    const qreal gap = width >= 6 ? 2 : 0;
    return { contentsRect().left() + cell * width + gap / 2, qreal(contentsRect().top()) + 1, width - gap,
        qreal(contentsRect().height()) - 2 };
}

qsizetype GroupStrip::cellAt(QPoint point) const
{
    for (qsizetype cell = 0; cell < m_cells.size(); ++cell) {
        if (cellRect(cell).contains(point))
            return cell;
    }
    return -1;
}

bool GroupStrip::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const qsizetype cell = cellAt(help->pos());
    if (cell < 0) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const Cell& shown = m_cells.at(cell);
    QToolTip::showText(help->globalPos(),
        FiftyFiftyPanel::tr("%1: %2, %3")
            .arg(shown.key, markText(shown.mark),
                shown.out ? FiftyFiftyPanel::tr("out of the game folder now")
                          : FiftyFiftyPanel::tr("in the game folder")),
        this, cellRect(cell).toAlignedRect());
    return true;
}

void GroupStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (qsizetype cell = 0; cell < m_cells.size(); ++cell) {
        const QColor color = colorOf(m_cells.at(cell).mark);
        const QRectF rect = cellRect(cell);
        // Out of the folder: only the outline, as an empty place the group left.
        if (m_cells.at(cell).out) {
            const qreal pen = std::clamp(rect.width() / 4, 1.0, 2.5);
            painter.setPen(QPen(color, pen));
            painter.setBrush(palette().color(QPalette::Base));
            painter.drawRect(rect.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2));
        } else {
            painter.fillRect(rect, color);
        }
    }
}

FiftyFiftyPanel::FiftyFiftyPanel(QWidget* parent)
    : QGroupBox(tr("Find the culprit: the guided 50/50"), parent)
{
    setObjectName(u"pnlFiftyFifty"_s);
    auto* layout = new QVBoxLayout(this);
    createRound(layout);
    createFilesOut(layout);
    layout->addLayout(createButtons());
    connect(cmdWorks, &QPushButton::clicked, this, &FiftyFiftyPanel::cmdWorks_Click);
    connect(cmdBroken, &QPushButton::clicked, this, &FiftyFiftyPanel::cmdBroken_Click);
    connect(cmdStop, &QPushButton::clicked, this, &FiftyFiftyPanel::cmdStop_Click);
    connect(cmdRetry, &QPushButton::clicked, this, &FiftyFiftyPanel::retryAsked);
    connect(cmdCloseGuide, &QPushButton::clicked, this, &FiftyFiftyPanel::closeAsked);
    updateButtons();
}

void FiftyFiftyPanel::createRound(QVBoxLayout* layout)
{
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
    grpStrip = new GroupStrip(this);
    grpStrip->setToolTip(tr("Every mod of the 50/50, one box each. Point at a box to read which mod it is."));
    lblGroups = new QLabel(this);
    lblGroups->setObjectName(u"lblGroups"_s);
    lblGroups->setWordWrap(true);
    auto* roundRow = new QHBoxLayout;
    roundRow->addWidget(lblRound);
    roundRow->addWidget(grpStrip, 1);
    layout->addLayout(roundRow);
    layout->addWidget(lblGroups);
    layout->addWidget(lblSummary);
    lblSuggestion = new QLabel(this);
    lblSuggestion->setObjectName(u"lblSuggestion"_s);
    lblSuggestion->setWordWrap(true);
    lblSuggestion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblSuggestion->setVisible(false);
    layout->addWidget(lblSuggestion);
}

void FiftyFiftyPanel::setSuggestion(const QString& text)
{
    lblSuggestion->setText(text);
    lblSuggestion->setVisible(!text.isEmpty());
}

void FiftyFiftyPanel::createFilesOut(QVBoxLayout* layout)
{
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
}

QHBoxLayout* FiftyFiftyPanel::createButtons()
{
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
    return buttons;
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
    showGroups(session, filesOut);

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
        lstOut->addItem(shownPath(path));
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
                      .arg(countText(filesOut.size()), quarantine));
    for (const QByteArray& path : filesOut)
        lstOut->addItem(shownPath(path));
}

// Each group's mark comes from the session; whether it is out comes from the folder, which the
// player may have changed since.
void FiftyFiftyPanel::showGroups(const BisectSession& session, const QList<QByteArray>& filesOut)
{
    const QSet<QByteArray> out(filesOut.cbegin(), filesOut.cend());
    QList<GroupStrip::Cell> cells;
    QMap<GroupStrip::Mark, int> marks;
    int outNow = 0;
    for (int group = 0; group < session.groups().size(); ++group) {
        const BisectGroup& each = session.groups().at(group);
        const bool isOut = std::any_of(each.paths.cbegin(), each.paths.cend(),
            [&out](const QByteArray& path) { return out.contains(path); });
        cells.append({ each.key, markOf(session, group), isOut });
        ++marks[cells.last().mark];
        outNow += isOut;
    }
    grpStrip->setCells(cells);
    QStringList said;
    for (const GroupStrip::Mark mark : { GroupStrip::Mark::Cleared, GroupStrip::Mark::Later,
             GroupStrip::Mark::Suspected, GroupStrip::Mark::Culprit, GroupStrip::Mark::Back }) {
        if (marks.value(mark) > 0)
            said.append(u"<span style=\"color:%1\">\u25a0</span>&nbsp;%2&nbsp;%3"_s.arg(
                GroupStrip::colorOf(mark).name(), countText(marks.value(mark)), markText(mark)));
    }
    said.append(tr("\u25a1&nbsp;%1&nbsp;out&nbsp;now").arg(countText(outNow)));
    const QString mods
        = session.groups().size() == 1 ? tr("1 mod") : tr("%1 mods").arg(countText(session.groups().size()));
    lblGroups->setText(mods + u": "_s + said.join(u" &nbsp; "_s));
    // The same words without colours, for screen readers.
    lblGroups->setAccessibleDescription(QTextDocumentFragment::fromHtml(lblGroups->text()).toPlainText());
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
        emit stopAsked(m_round);
}
