#include "window/StatusDisplay.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {
// The room QLineEdit keeps on each side of its text.
constexpr int kTextMargin = 2;
} // namespace

StatusLine::StatusLine(QWidget* parent) : QLineEdit(parent)
{
    setReadOnly(true);
    connect(this, &QLineEdit::textChanged, this, &StatusLine::showWholeTextAsTip);
}

QRect StatusLine::textArea() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, this)
        .marginsRemoved(textMargins())
        .adjusted(kTextMargin, 0, -kTextMargin, 0);
}

QString StatusLine::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, textArea().width());
}

void StatusLine::paintEvent(QPaintEvent* event)
{
    const QString shown = shownText();
    if (shown == text() || hasFocus()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

void StatusLine::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    showWholeTextAsTip();
}

void StatusLine::showWholeTextAsTip()
{
    setToolTip(shownText() == text() ? QString() : text());
}

void TextBar::setText(const QString& text)
{
    if (text_ == text)
        return;
    text_ = text;
    update();
}

QString TextBar::text() const
{
    return value() < minimum() ? QString() : text_;
}
