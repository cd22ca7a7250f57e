#pragma once

#include <QRect>
#include <QString>
#include <functional>

namespace nuvel {

class AppModel;

// What the status item shows for the model's state.
struct StatusItemAppearance {
    QString title;              // " " + elapsed time while a recording exists, else empty
    bool tinted = false;        // red while capturing
    QString symbol;             // "record.circle.fill", "pause.circle" or "waveform"
    QString description;        // the image's accessible description
    QString accessibilityLabel; // "Recording" + " " + elapsed while capturing, else "Nuvel"

    bool operator==(const StatusItemAppearance&) const = default;
};

StatusItemAppearance statusItemAppearance(const AppModel& model);

// The status item in the desktop's panel. Main thread only.
class StatusItemView {
public:
    virtual ~StatusItemView() = default;

    virtual void render(const StatusItemAppearance& appearance) = 0;
    // The item's place on the screen, in global coordinates; empty when the desktop keeps it.
    virtual QRect buttonGeometry() const = 0;

    // A click on the item.
    std::function<void()> onActivate;
};

} // namespace nuvel
