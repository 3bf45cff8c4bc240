// SPDX-License-Identifier: GPL-3.0-or-later
#include "label.h"

#include "names.h"

#include <QPainter>

Label::Label(const QString& caption, QWidget* parent)
    : QFrame(parent)
    , m_caption(caption)
{
    setFocusPolicy(Qt::NoFocus);
}

void Label::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
}

QString Label::shownText() const
{
    return shownCaption(m_caption);
}

void Label::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    update();
}

void Label::setWordWrap(bool on)
{
    m_wordWrap = on;
    update();
}

void Label::fitToCaption()
{
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, m_caption);
    resize(text.width() + 2 + 2 * frameWidth(), height());
}

void Label::setBoxed(bool boxed)
{
    setFrameStyle(boxed ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
    setLineWidth(1);
}

void Label::setColors(const QColor& background, const QColor& text)
{
    QPalette colors = palette();
    if (background.isValid()) {
        colors.setColor(QPalette::Window, background);
        setAutoFillBackground(true);
    }
    if (text.isValid())
        colors.setColor(QPalette::WindowText, text);
    setPalette(colors);
}

void Label::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    int flags = int(m_alignment) | Qt::TextShowMnemonic;
    if (m_wordWrap)
        flags |= Qt::TextWordWrap;
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QRect area = contentsRect().adjusted(1, 0, -1, 0);
    const int needed = fontMetrics().horizontalAdvance(shownText());
    if (!m_wordWrap && needed > area.width() && area.width() > 0) {
        // A stand-in font wider than the design's would cut a one-line caption: narrow it to fit.
        QFont narrowed = font();
        narrowed.setStretch(qMax(50, area.width() * 100 / needed));
        painter.setFont(narrowed);
    }
    painter.drawText(area, flags, m_caption);
}
