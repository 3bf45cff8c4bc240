// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointF>
#include <QString>
#include <QTextCursor>

// A multi-line text box whose text reads and writes with CR LF line ends, as list files have them.
//
// A box that wraps holds a long text as paragraphs of many lines joined by line separators: Qt's
// document costs a few microseconds for every paragraph, so a listing of a hundred thousand names
// shows in a few milliseconds instead of a quarter of a second. What the joins would otherwise
// change is put back: the scroll bar counts every line before it is laid out, a triple click
// selects one line, Ctrl+K deletes to the end of the line, and the text, the clipboard, the saved
// file and the printout get real line ends.
class TextArea : public QPlainTextEdit
{
    Q_OBJECT
public:
    TextArea(bool wrap, QWidget* parent);

    QString Text() const;
    // A text given as a temporary (as a listing just composed) is joined in place.
    void setText(QString text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void extendByLines(int position, bool scroll);
    void paintSelectedLineEnds(QRect exposed);
    int wordMoveTarget(QTextCursor::MoveOperation move) const;

    // The line picked by a triple click, which a drag or a Shift+click then extends line by line.
    QTextCursor m_clickedLine;
    bool m_mightDrag = false;
    QElapsedTimer m_sinceDoubleClick;
    QPointF m_doubleClickAt;
};
