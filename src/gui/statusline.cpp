#include "statusline.h"

#include <QResizeEvent>

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setAccessibleName(tr("状态"));
}

void StatusLine::setFullText(const QString &text)
{
    if (text != m_text)
        setAccessibleDescription(text);
    m_text = text;
    elide();
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void StatusLine::elide()
{
    setText(fontMetrics().elidedText(m_text, Qt::ElideRight, qMax(0, contentsRect().width())));
}
