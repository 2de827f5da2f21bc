#include "window/FilledCircle.h"

#include <QPainter>

FilledCircle::FilledCircle(QWidget* parent) : QWidget(parent) {}

void FilledCircle::setFillColor(const QColor& color)
{
    fillColor_ = color;
    update();
}

void FilledCircle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fillColor_);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
