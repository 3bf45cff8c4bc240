// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>
#include <QString>

// A caption on the window. The caption keeps its "&" marks; the screen shows a single "&" hidden
// with the next letter underlined, and "&&" as one "&". With word wrap on, long text wraps at
// word boundaries and is cut off where the label ends; a one-line caption is narrowed to fit.
class Label : public QFrame
{
    Q_OBJECT
public:
    Label(const QString& caption, QWidget* parent);

    const QString& Caption() const { return m_caption; }
    void setCaption(const QString& caption);
    // The caption as the screen shows it.
    QString shownText() const;

    void setAlignment(Qt::Alignment alignment);
    void setWordWrap(bool on);
    void setBoxed(bool boxed);
    // Makes the label as wide as its caption, keeping its left edge and height.
    void fitToCaption();
    void setColors(const QColor& background, const QColor& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignTop;
    bool m_wordWrap = false;
};
