#pragma once

#include "Nuvel/model/detail/DetailText.hpp"

#include <QPalette>
#include <memory>

class QTextDocument;

namespace nuvel {

// The text property a stamp chip carries: the text it stands for when the notes are copied.
inline constexpr int evidenceStampProperty = 0x100000 + 1; // QTextFormat::UserProperty + 1

// A text document for one of the detail screen's texts, with the same character positions:
// each run in its font, colour (from the palette), underline, link and tooltip; each chip an
// image of a small capsule that carries the chip's link and tooltip as an anchor; paragraph
// spacing; the base direction and alignment of the whole text.
std::unique_ptr<QTextDocument> makeDetailTextDocument(const meetingdetail::DetailText& text,
                                                      const QPalette& palette);

} // namespace nuvel
