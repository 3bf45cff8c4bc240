// SPDX-License-Identifier: GPL-3.0-or-later
#include "textarea.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

// Lines per paragraph when a text is shown joined: few enough that laying out the paragraph
// under the caret stays quick, many enough that a million lines make few paragraphs.
constexpr int linesPerBlock = 64;

// Shorter texts keep one paragraph per line, exactly as Qt shows them: below a thousand lines the
// paragraphs cost less than three milliseconds. (Scrolled to a line inside a paragraph, Qt places
// the text by the unrounded height of the line above, up to a pixel lower, and Page Up can then
// stop one line from where it would between paragraphs.)
constexpr qsizetype joinFromLines = 1000;

// Qt's plain-text layout counts a paragraph that has not been laid out yet as one line, and the
// scroll bar is the sum of those counts. A paragraph of joined lines is counted here as the lines
// it holds, so the scroll bar reaches every line before any of them was shown.
class JoinedLinesLayout : public QPlainTextDocumentLayout
{
public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    void documentChanged(int from, int charsRemoved, int charsAdded) override
    {
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
        countLines(document()->findBlock(from), document()->findBlock(from + charsAdded));
    }

    // After a new text width every paragraph is back to one line.
    void countAllLines() { countLines(document()->firstBlock(), document()->lastBlock()); }

private:
    void countLines(QTextBlock block, const QTextBlock& last)
    {
        bool counted = false;
        for (; block.isValid(); block = block.next()) {
            if (block.isVisible()) {
                const int lines = 1 + int(block.text().count(QChar::LineSeparator));
                if (lines > 1 && block.lineCount() != lines && block.layout()->lineCount() == 0) {
                    block.setLineCount(lines);
                    counted = true;
                }
            }
            if (block == last)
                break;
        }
        if (counted)
            emit documentSizeChanged(documentSize());
    }
};

bool isLineEnd(char16_t c)
{
    return c == u'\r' || c == u'\n';
}

// Whether a text has at least so many line ends (CR LF, LF or a lone CR); it stops counting there.
bool hasLines(QStringView text, qsizetype lines)
{
    const char16_t* const end = text.utf16() + text.size();
    for (const char16_t* at = text.utf16(); lines > 0 && at != end; ++at) {
        if (isLineEnd(*at) && !(*at == u'\r' && at + 1 != end && at[1] == u'\n'))
            --lines;
    }
    return lines == 0;
}

// Turns the line ends of a text into line separators, all but every linesPerBlock-th one, which
// becomes a paragraph break. The text only shrinks, so it is rewritten in place.
void joinLines(QString& text)
{
    char16_t* const begin = reinterpret_cast<char16_t*>(text.data());
    const char16_t* in = begin;
    const char16_t* const end = begin + text.size();
    char16_t* out = begin;
    int lines = 0;
    while (in != end) {
        const char16_t* const lineEnd = std::find_if(in, end, isLineEnd);
        if (out != in)
            std::memmove(out, in, (lineEnd - in) * sizeof(char16_t));
        out += lineEnd - in;
        in = lineEnd;
        if (in == end)
            break;
        if (*in++ == u'\r' && in != end && *in == u'\n')
            ++in;
        *out++ = ++lines % linesPerBlock == 0 ? u'\n' : char16_t(QChar::LineSeparator);
    }
    text.truncate(out - begin);
}

// Where the line around a position begins and ends: at paragraph ends and at line separators.
int lineStart(const QTextCursor& at)
{
    const int inBlock = at.positionInBlock();
    const int separator
        = inBlock == 0 ? -1 : int(at.block().text().lastIndexOf(QChar::LineSeparator, inBlock - 1));
    return at.block().position() + separator + 1;
}

int lineEnd(const QTextCursor& at)
{
    const QString text = at.block().text();
    const qsizetype separator = text.indexOf(QChar::LineSeparator, at.positionInBlock());
    return at.block().position() + int(separator < 0 ? text.size() : separator);
}

JoinedLinesLayout* joinedLinesLayout(const QTextDocument* document)
{
    return dynamic_cast<JoinedLinesLayout*>(document->documentLayout());
}

}

TextArea::TextArea(bool wrap, QWidget* parent)
    : QPlainTextEdit(parent)
{
    if (wrap) {
        // Set up as the box's own document is, with the layout that counts joined lines.
        auto* joinable = new QTextDocument(this);
        auto* layout = new JoinedLinesLayout(joinable);
        joinable->setDocumentLayout(layout);
        layout->setPaintDevice(viewport());
        joinable->setDefaultFont(font());
        setDocument(joinable);
    }
    setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
}

QString TextArea::Text() const
{
    // The raw text keeps every character as typed (non-breaking spaces included); only the
    // breaks become line ends: Enter makes a paragraph break, Shift+Enter a line separator.
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u"\r\n"_s);
    text.replace(QChar::LineSeparator, u"\r\n"_s);
    return text;
}

void TextArea::setText(QString text)
{
    // A box that does not wrap keeps one paragraph per line: its horizontal scroll bar grows with
    // the widest line laid out so far, and joined lines would be laid out sooner.
    if (joinedLinesLayout(document()) && hasLines(text, joinFromLines))
        joinLines(text);
    setPlainText(text);
}

// A word move, as the box makes it, goes over a line separator and any blanks after it; between
// paragraphs it stops at the end of the line and then moves to the start of the next. The
// position the move stops at, made to stop as between paragraphs.
int TextArea::wordMoveTarget(QTextCursor::MoveOperation move) const
{
    QTextCursor probe = textCursor();
    probe.clearSelection();
    probe.setVisualNavigation(true);
    const int from = probe.position();
    if (!probe.movePosition(move))
        return from;
    const int to = probe.position();
    QTextCursor at = textCursor();
    at.clearSelection();
    if (to > from) {
        const int end = lineEnd(at);
        return from == end ? std::min(to, end + 1) : std::min(to, end);
    }
    const int start = lineStart(at);
    return from == start ? std::max(to, start - 1) : std::max(to, start);
}

void TextArea::keyPressEvent(QKeyEvent* event)
{
    if (joinedLinesLayout(document())) {
        struct WordKey
        {
            QKeySequence::StandardKey key;
            QTextCursor::MoveOperation move;
            QTextCursor::MoveMode mode;
            bool deletes;
        };
        static constexpr WordKey wordKeys[] = {
            { QKeySequence::MoveToNextWord, QTextCursor::WordRight, QTextCursor::MoveAnchor, false },
            { QKeySequence::MoveToPreviousWord, QTextCursor::WordLeft, QTextCursor::MoveAnchor, false },
            { QKeySequence::SelectNextWord, QTextCursor::WordRight, QTextCursor::KeepAnchor, false },
            { QKeySequence::SelectPreviousWord, QTextCursor::WordLeft, QTextCursor::KeepAnchor, false },
            { QKeySequence::DeleteEndOfWord, QTextCursor::NextWord, QTextCursor::KeepAnchor, true },
            { QKeySequence::DeleteStartOfWord, QTextCursor::PreviousWord, QTextCursor::KeepAnchor, true },
        };
        for (const WordKey& word : wordKeys) {
            if (event != word.key || (word.deletes && (isReadOnly() || textCursor().hasSelection())))
                continue;
            QTextCursor cursor = textCursor();
            cursor.setPosition(wordMoveTarget(word.move), word.mode);
            if (word.deletes)
                cursor.removeSelectedText();
            setTextCursor(cursor);
            event->accept();
            return;
        }
    }
    if (event == QKeySequence::DeleteEndOfLine && !isReadOnly()) {
        QTextCursor cursor = textCursor();
        const int end = lineEnd(cursor);
        if (end != cursor.block().position() + cursor.block().length() - 1) {
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            setTextCursor(cursor);
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TextArea::mouseDoubleClickEvent(QMouseEvent* event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_sinceDoubleClick.start();
        m_doubleClickAt = event->position();
    }
}

void TextArea::mousePressEvent(QMouseEvent* event)
{
    // The same test as the box's own for a third click: soon after a double click, near it.
    const bool tripleClick = event->button() == Qt::LeftButton && m_sinceDoubleClick.isValid()
        && m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval()
        && (event->position() - m_doubleClickAt).manhattanLength() < QApplication::startDragDistance();
    const QTextCursor before = textCursor();
    const int clicked = cursorForPosition(event->position().toPoint()).position();
    const int top = verticalScrollBar()->value();
    QPlainTextEdit::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    if (tripleClick) {
        m_sinceDoubleClick.invalidate();
        QTextCursor line = before;
        line.setPosition(lineStart(before));
        line.setPosition(
            std::min(lineEnd(before) + 1, document()->characterCount() - 1), QTextCursor::KeepAnchor);
        m_clickedLine = line;
        // The box scrolled to the end of the whole paragraph it selected; scroll from where it was.
        verticalScrollBar()->setValue(top);
        setTextCursor(line);
    } else if (event->modifiers() == Qt::ShiftModifier) {
        if (m_clickedLine.hasSelection()) {
            verticalScrollBar()->setValue(top);
            extendByLines(clicked, true);
        }
    } else if (before.hasSelection() && clicked >= before.selectionStart()
        && clicked <= before.selectionEnd()) {
        m_mightDrag = true; // the box may start dragging the selection; the line stays picked
    } else {
        m_clickedLine = QTextCursor();
    }
}

void TextArea::mouseMoveEvent(QMouseEvent* event)
{
    const int top = verticalScrollBar()->value();
    const int at = cursorForPosition(event->position().toPoint()).position();
    QPlainTextEdit::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) && m_clickedLine.hasSelection() && !m_mightDrag) {
        verticalScrollBar()->setValue(top);
        extendByLines(at, false);
    }
}

void TextArea::mouseReleaseEvent(QMouseEvent* event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    if (m_mightDrag && event->button() == Qt::LeftButton)
        m_clickedLine = QTextCursor();
    m_mightDrag = false;
}

void TextArea::extendByLines(int position, bool scroll)
{
    QTextCursor selection = m_clickedLine;
    QTextCursor at = selection;
    at.setPosition(position);
    if (position < m_clickedLine.selectionStart()) {
        selection.setPosition(m_clickedLine.selectionEnd());
        selection.setPosition(lineStart(at), QTextCursor::KeepAnchor);
    } else if (position > m_clickedLine.selectionEnd()) {
        selection.setPosition(m_clickedLine.selectionStart());
        selection.setPosition(
            std::min(lineEnd(at) + 1, document()->characterCount() - 1), QTextCursor::KeepAnchor);
    } else {
        scroll = true; // back on the line picked, the box shows the selection's end, as it does
    }
    // Extended by a drag, the selection's end is not scrolled to; the box's own auto-scroll does.
    const int top = verticalScrollBar()->value();
    setTextCursor(selection);
    if (!scroll)
        verticalScrollBar()->setValue(top);
}

void TextArea::paintEvent(QPaintEvent* event)
{
    if (joinedLinesLayout(document()))
        paintSelectedLineEnds(event->rect());
    QPlainTextEdit::paintEvent(event);
}

// Qt shows a selected paragraph end as a narrow selected strip after the line's text; a selected
// line separator takes no room. The strip is painted here, under whatever the box paints after,
// where the box would paint it, with the selection's own brush.
void TextArea::paintSelectedLineEnds(QRect exposed)
{
    const QAbstractTextDocumentLayout::PaintContext context = getPaintContext();
    QList<QAbstractTextDocumentLayout::Selection> selections;
    for (const QAbstractTextDocumentLayout::Selection& selection : context.selections) {
        if (selection.cursor.hasSelection()
            && !selection.format.boolProperty(QTextFormat::FullWidthSelection))
            selections.append(selection);
    }
    if (selections.isEmpty())
        return;

    QPainter painter(viewport());
    QPointF offset = contentOffset();
    const int maximumX = int(offset.x()
        + std::max(qreal(viewport()->width()), document()->documentLayout()->documentSize().width())
        - document()->documentMargin() + cursorWidth());
    exposed.setRight(std::min(exposed.right(), maximumX));
    painter.setClipRect(exposed);
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF bounds = blockBoundingRect(block).translated(offset);
        if (block.isVisible() && bounds.bottom() >= exposed.top() && bounds.top() <= exposed.bottom()) {
            const QString text = block.text();
            const QTextLayout* layout = block.layout();
            for (const QAbstractTextDocumentLayout::Selection& selection : selections) {
                const int start = selection.cursor.selectionStart() - block.position();
                const int end = selection.cursor.selectionEnd() - block.position();
                for (int i = 0; i + 1 < layout->lineCount(); ++i) {
                    const QTextLine line = layout->lineAt(i);
                    const int separator = line.textStart() + line.textLength() - 1;
                    if (text.at(separator) != QChar::LineSeparator || start > separator || end <= separator)
                        continue;
                    const QRectF textRect = line.naturalTextRect().translated(offset);
                    QPainterPath strip;
                    strip.addRect(
                        QRectF(textRect.right(), textRect.top(), textRect.height() / 4, textRect.height())
                            .intersected(QRectF(exposed)));
                    painter.setPen(selection.format.penProperty(QTextFormat::OutlinePen));
                    painter.setBrush(selection.format.brushProperty(QTextFormat::BackgroundBrush));
                    painter.drawPath(strip);
                }
            }
        }
        offset.ry() += bounds.height();
        if (offset.y() > viewport()->height())
            break;
    }
}

void TextArea::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    if (auto* layout = joinedLinesLayout(document());
        layout && event->oldSize().width() != event->size().width())
        layout->countAllLines();
}
