#include "textarea.h"

#include <QTextDocument>

using namespace Qt::StringLiterals;

TextArea::TextArea(bool wrap, QWidget* parent)
    : QPlainTextEdit(parent)
{
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

void TextArea::setText(const QString& text)
{
    setPlainText(text);
}
