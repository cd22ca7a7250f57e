#pragma once

#include <QFont>
#include <QString>

class QLabel;
class QLocale;
class QTime;
class QWidget;

namespace nuvel {

// Elapsed seconds as "%d:%02d:%02d" (hours unpadded, uncapped) from one hour on, else
// "%02d:%02d". Seconds are truncated toward zero; negative and NaN count as 0, and anything
// beyond the 64-bit range (+infinity included) as the largest 64-bit count.
QString formatDuration(double seconds);

// The locale's short time format without seconds: each seconds field (with a fraction after
// it) goes, with the one separator before it; quoted text stays as it is. The C locale's
// "HH:mm:ss" becomes "HH:mm"; a format without seconds ("h:mm AP", "H.mm") is kept whole.
QString hoursAndMinutesFormat(const QString& shortFormat);
// A time of day as hours and minutes in the locale's short time format.
QString shortTimeText(const QLocale& locale, const QTime& time);

// A one-line, non-editable, non-selectable label of plain text in the system font of that
// point size and weight; aligned right when the first preferred language begins with "ar",
// left otherwise, with the text's own writing direction.
QLabel* makeLabel(const QString& text, double pointSize, QFont::Weight weight);

// Makes `view` a child of `container` that fills it with `inset` points on all four sides
// (negative insets count as 0). The container gets a grid layout for this on first use; views
// pinned to the same container overlap, as edge constraints would, and all keep the latest
// inset. A container with a layout of another kind takes the view into that layout.
void pinToSuperview(QWidget* view, QWidget* container, double inset);

// The system font at a point size and weight.
QFont systemFont(double pointSize, QFont::Weight weight);

// A tooltip that shows `text` exactly as written. Qt reads any tooltip that looks like markup as
// rich text (an image of a local file included), and offers no plain-text tooltip: so the text
// is escaped, in a paragraph that keeps its spaces and line breaks. Every tooltip that carries
// the service's, the calendar's or the user's words goes through here. Empty text gives none.
QString plainToolTip(const QString& text);
// Gives `widget` the plain tooltip above and the same text, as written, as its accessible
// description: without one the toolkit hands a screen reader the tooltip's markup instead.
void setPlainToolTip(QWidget* widget, const QString& text);

// `text` as a screen reader is to be given it: without the invisible marks that set the writing
// direction of the text between them (U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069),
// which matter only to the text as it is drawn.
QString withoutDirectionMarks(const QString& text);

} // namespace nuvel
