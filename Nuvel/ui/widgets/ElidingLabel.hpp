#pragma once

#include <QFont>
#include <QLabel>

namespace nuvel {

// A one-line label like makeLabel's that, when narrower than its text, shows the text cut at
// the end with an ellipsis. Its text (and so what accessibility reads) stays whole, and it can
// be squeezed to any width, so a narrow container truncates it rather than widening.
class ElidingLabel final : public QLabel {
    Q_OBJECT
public:
    ElidingLabel(const QString& text, double pointSize, QFont::Weight weight, QWidget* parent = nullptr);

    // The text as drawn at the label's current width.
    QString displayedText() const;
    // Where the text is cut; at its end unless set.
    void setElideMode(Qt::TextElideMode mode) {
        mode_ = mode;
        update();
    }

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_ = Qt::ElideRight;
};

} // namespace nuvel
