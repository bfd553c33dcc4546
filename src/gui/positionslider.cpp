#include "positionslider.h"

#include <QResizeEvent>
#include <QStyle>

PositionSlider::PositionSlider(QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
{
}

int PositionSlider::handlePixel() const
{
    return QStyle::sliderPositionFromValue(minimum(), maximum(), value(), width());
}

void PositionSlider::sliderChange(SliderChange change)
{
    if (change == SliderValueChange) {
        const int pixel = handlePixel();
        if (pixel == m_painted)
            return;
        m_painted = pixel;
    } else {
        m_painted = -1; // a new range or step: drawn anew
    }
    QSlider::sliderChange(change);
}

void PositionSlider::resizeEvent(QResizeEvent *event)
{
    m_painted = -1; // drawn anew, at a new scale
    QSlider::resizeEvent(event);
}
