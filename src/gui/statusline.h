#ifndef STATUSLINE_H
#define STATUSLINE_H

#include <QLabel>

// A one-line label that shortens its text with "…" when it is too narrow.
// A screen reader reads the whole line, and hears of each change.
class StatusLine : public QLabel
{
    Q_OBJECT

public:
    explicit StatusLine(QWidget *parent = nullptr);

    QString fullText() const { return m_text; }
    void setFullText(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_text;
};

#endif // STATUSLINE_H
