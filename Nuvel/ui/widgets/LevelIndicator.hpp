#pragma once

#include <QPixmap>
#include <QWidget>

namespace nuvel {

// A continuous level bar from 0 to 1: filled from the leading edge in proportion to the value,
// in the normal colour below the warning value, the warning colour from it, and the critical
// colour from the critical value. Values outside 0...1 are shown clamped; NaN as 0.
class LevelIndicator final : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 8;

    explicit LevelIndicator(QWidget* parent = nullptr);

    double value() const { return value_; }
    void setValue(double value);

    double warningValue() const { return warning_; }
    double criticalValue() const { return critical_; }
    void setWarningValue(double value);
    void setCriticalValue(double value);

    // The colour the fill has at the current value.
    QColor fillColor() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The width of the fill in whole pixels.
    int filledPixels() const;
    // Draws the empty track and the full bar in the fill colour, once for each size, colour
    // and palette: a repaint then copies the two in part.
    void renderBars();

    double value_ = 0.0;
    double warning_ = 0.8;
    double critical_ = 0.95;

    QPixmap track_;
    QPixmap bar_;
    QColor barColour_;
    QColor trackLine_;
    QColor trackBase_;
};

} // namespace nuvel
