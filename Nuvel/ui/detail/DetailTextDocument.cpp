#include "Nuvel/ui/detail/DetailTextDocument.hpp"

#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <cmath>

namespace nuvel {

using namespace meetingdetail;

namespace {

QFont chipFont() {
    QFont font = QGuiApplication::font();
    font.setPointSizeF(11);
    font.setWeight(QFont::Medium);
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    return font;
}

QImage chipImage(const QString& label, const QColor& accent) {
    const QFont font = chipFont();
    const QFontMetrics metrics(font);
    const int width = int(std::ceil(metrics.horizontalAdvance(label))) + 14;
    constexpr int height = 18;
    QImage image(width * 2, height * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = accent;
    fill.setAlphaF(0.14f);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0, 0, width, height), height / 2.0, height / 2.0);
    p.setPen(accent);
    p.setFont(font);
    p.drawText(QRectF(7, 0, width - 7, height), Qt::AlignLeft | Qt::AlignVCenter, label);
    return image;
}

QColor colorOf(DetailColor color, const QPalette& palette) {
    switch (color) {
    case DetailColor::link:
        return palette.color(QPalette::Link);
    case DetailColor::secondaryLabel:
        return palette.color(QPalette::PlaceholderText);
    case DetailColor::label:
    case DetailColor::none:
        break;
    }
    return palette.color(QPalette::Text);
}

QTextCharFormat charFormat(const DetailStyle& style, const QPalette& palette) {
    QTextCharFormat format;
    QFont font = QGuiApplication::font();
    font.setPointSizeF(style.font.pointSize);
    font.setWeight(style.font.semibold ? QFont::DemiBold : QFont::Normal);
    format.setFont(font);
    format.setForeground(colorOf(style.color, palette));
    if (style.underline)
        format.setFontUnderline(true);
    if (!style.link.empty()) {
        format.setAnchor(true);
        format.setAnchorHref(QString::fromStdString(style.link));
    }
    if (!style.tooltip.empty())
        format.setToolTip(plainToolTip(QString::fromStdString(style.tooltip)));
    return format;
}

} // namespace

std::unique_ptr<QTextDocument> makeDetailTextDocument(const DetailText& text, const QPalette& palette) {
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    QTextOption option = document->defaultTextOption();
    option.setTextDirection(text.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    option.setAlignment(text.rightToLeft ? Qt::AlignRight | Qt::AlignAbsolute
                                         : Qt::AlignLeft | Qt::AlignAbsolute);
    document->setDefaultTextOption(option);

    QTextCursor cursor(document.get());
    cursor.beginEditBlock();
    const QColor accent = palette.color(QPalette::Highlight);
    int chipNumber = 0;
    for (const DetailTextRun& run : text.runs) {
        const QTextCharFormat format = charFormat(run.style, palette);
        if (run.chip) {
            const QString label = QString::fromStdString(run.chip->label);
            const QUrl name(QStringLiteral("nuvel-chip:%1").arg(chipNumber++));
            document->addResource(QTextDocument::ImageResource, name, chipImage(label, accent));
            QTextImageFormat image;
            image.merge(format);
            image.setName(name.toString());
            image.setVerticalAlignment(QTextCharFormat::AlignMiddle);
            image.setProperty(evidenceStampProperty, QString::fromStdString(run.chip->copyText));
            image.setProperty(QTextFormat::ImageAltText, label);
            cursor.insertImage(image);
            continue;
        }
        const std::u16string_view piece(text.string.data() + run.range.location, run.range.length);
        // A line feed starts a new block; Qt counts the block separator as one position too.
        std::size_t start = 0;
        while (start <= piece.size()) {
            const std::size_t newline = piece.find(u'\n', start);
            const std::size_t end = newline == std::u16string_view::npos ? piece.size() : newline;
            if (end > start)
                cursor.insertText(QString::fromUtf16(piece.data() + start, qsizetype(end - start)), format);
            if (newline == std::u16string_view::npos)
                break;
            cursor.insertBlock(QTextBlockFormat(), format);
            start = newline + 1;
        }
    }
    // Paragraph styles, a later run winning where they meet; each block takes the style of its
    // first character.
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format;
        const auto style = text.paragraphStyleAt(std::size_t(block.position()));
        const bool rightToLeft =
            style && style->ownDirection ? block.text().isRightToLeft() : text.rightToLeft;
        format.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        format.setAlignment(text.rightToLeft ? Qt::AlignRight | Qt::AlignAbsolute
                                             : Qt::AlignLeft | Qt::AlignAbsolute);
        if (style) {
            format.setTopMargin(style->spacingBefore);
            format.setBottomMargin(style->spacing);
            format.setLineHeight(style->lineSpacing, QTextBlockFormat::LineDistanceHeight);
        }
        QTextCursor(block).setBlockFormat(format);
    }
    cursor.endEditBlock();
    return document;
}

} // namespace nuvel
