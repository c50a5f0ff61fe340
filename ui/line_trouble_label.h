#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// What keeps a line's report lines from their file, or the line from reporting, in one line of
// text beneath its view: it stays in sight, without a hover, until it is mended. A text wider
// than the panel loses its middle, so that both the file's name and the held count stay shown;
// the whole text is the hint. Hidden while there is nothing to say.
class TLineTroubleLabel : public QWidget {
public:
    explicit TLineTroubleLabel(QWidget* parent);

    void SetTrouble(const QString& text, const QColor& colour);
    const QString& Trouble() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor colour_;
};
