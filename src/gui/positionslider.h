#ifndef POSITIONSLIDER_H
#define POSITIONSLIDER_H

#include <QSlider>

// The position slider, which the clip's ticks move many times a second:
// it repaints only when its handle moves by a pixel. Its value is always
// the clip's, for the keys and a screen reader.
class PositionSlider : public QSlider
{
    Q_OBJECT

public:
    explicit PositionSlider(QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int handlePixel() const;

    int m_painted = -1; // where the handle was drawn, along the slider
};

#endif // POSITIONSLIDER_H
