#pragma once

#include <QPlainTextEdit>
#include <QString>

// A multi-line text box whose text reads and writes with CR LF line ends, as list files have them.
class TextArea : public QPlainTextEdit
{
    Q_OBJECT
public:
    TextArea(bool wrap, QWidget* parent);

    QString Text() const;
    void setText(const QString& text);
};
