#include "NuvelKit/support/Unicode.hpp"

#include <memory>
#include <mutex>
#include <stdexcept>
#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace nuvel::unicode {
namespace {

icu::UnicodeString toIcu(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
}

std::string toUtf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

const icu::Normalizer2& normalizer(bool compose) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n =
        compose ? icu::Normalizer2::getNFCInstance(status) : icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status) || n == nullptr)
        throw std::runtime_error("ICU normalizer unavailable");
    return *n;
}

std::unique_ptr<icu::BreakIterator> characterIterator(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it)
        throw std::runtime_error("ICU break iterator unavailable");
    it->setText(text);
    return it;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    int32_t i = 0, length = int32_t(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

std::string nfc(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString normalized = normalizer(true).normalize(toIcu(text), status);
    if (U_FAILURE(status))
        throw std::runtime_error("NFC normalisation failed");
    return toUtf8(normalized);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    return a == b || nfc(a) == nfc(b);
}

std::size_t graphemeCount(std::string_view text) {
    if (text.empty())
        return 0;
    icu::UnicodeString s = toIcu(text);
    auto it = characterIterator(s);
    std::size_t count = 0;
    for (int32_t p = it->first(); (p = it->next()) != icu::BreakIterator::DONE;)
        ++count;
    return count;
}

std::string graphemePrefix(std::string_view text, std::size_t count) {
    if (count == 0 || text.empty())
        return {};
    icu::UnicodeString s = toIcu(text);
    auto it = characterIterator(s);
    int32_t end = it->first();
    for (std::size_t i = 0; i < count; ++i) {
        int32_t next = it->next();
        if (next == icu::BreakIterator::DONE)
            return toUtf8(s);
        end = next;
    }
    return toUtf8(icu::UnicodeString(s, 0, end));
}

std::string graphemePrefix(std::string_view text, std::size_t maxGraphemes, std::size_t maxUtf16Units) {
    if (maxGraphemes == 0 || text.empty())
        return {};
    icu::UnicodeString s = toIcu(text);
    auto it = characterIterator(s);
    int32_t end = it->first();
    for (std::size_t i = 0; i < maxGraphemes; ++i) {
        int32_t next = it->next();
        if (next == icu::BreakIterator::DONE || std::size_t(next) > maxUtf16Units)
            break;
        end = next;
    }
    if (end == s.length())
        return toUtf8(s);
    return toUtf8(icu::UnicodeString(s, 0, end));
}

std::size_t utf16Length(std::string_view text) {
    return std::size_t(toIcu(text).length());
}

bool isNewline(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespaceOrNewline(char32_t c) {
    if (c == 0x09 || isNewline(c))
        return true;
    int8_t category = u_charType(UChar32(c));
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR || category == U_PARAGRAPH_SEPARATOR;
}

std::u32string toCodePoints(std::string_view text) {
    std::u32string out;
    int32_t i = 0, length = int32_t(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        out.push_back(c < 0 ? U'\uFFFD' : char32_t(c));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

std::string fromCodePoints(std::u32string_view codePoints) {
    std::string out;
    out.reserve(codePoints.size());
    for (char32_t c : codePoints)
        appendUtf8(out, c);
    return out;
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
    std::u32string cps = toCodePoints(text);
    std::size_t begin = 0, end = cps.size();
    while (begin < end && isWhitespaceOrNewline(cps[begin]))
        ++begin;
    while (end > begin && isWhitespaceOrNewline(cps[end - 1]))
        --end;
    if (begin == 0 && end == cps.size() && isValidUtf8(text))
        return std::string(text);
    return fromCodePoints(std::u32string_view(cps).substr(begin, end - begin));
}

bool isSpaceOrTab(char32_t c) {
    return c == 0x09 || u_charType(UChar32(c)) == U_SPACE_SEPARATOR;
}

std::string trimSpacesAndTabs(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t begin = 0, end = int32_t(text.size());
    while (begin < end) {
        int32_t next = begin;
        UChar32 c;
        U8_NEXT(s, next, end, c);
        if (c < 0 || !isSpaceOrTab(char32_t(c)))
            break;
        begin = next;
    }
    while (end > begin) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s, begin, previous, c);
        if (c < 0 || !isSpaceOrTab(char32_t(c)))
            break;
        end = previous;
    }
    return std::string(text.substr(std::size_t(begin), std::size_t(end - begin)));
}

std::vector<std::string_view> splitAtNewlines(std::string_view text) {
    std::vector<std::string_view> pieces;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t start = 0, i = 0, length = int32_t(text.size());
    while (i < length) {
        int32_t at = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c >= 0 && isNewline(char32_t(c))) {
            pieces.push_back(text.substr(std::size_t(start), std::size_t(at - start)));
            start = i;
        }
    }
    pieces.push_back(text.substr(std::size_t(start)));
    return pieces;
}

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
};

Regex::Regex(std::string_view pattern) : compiled_(std::make_unique<Compiled>()) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    compiled_->pattern.reset(icu::RegexPattern::compile(toIcu(pattern), 0, where, status));
    if (U_FAILURE(status) || !compiled_->pattern)
        throw std::invalid_argument("regular expression does not compile: " + std::string(pattern));
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

std::optional<std::vector<std::string>> Regex::firstMatch(std::string_view text) const {
    // The matcher refers to the subject; it lives until the matcher is gone.
    const icu::UnicodeString subject = toIcu(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(subject, status));
    if (U_FAILURE(status) || !matcher)
        throw std::runtime_error("ICU regular expression matcher unavailable");
    const bool found = matcher->find(status);
    if (U_FAILURE(status))
        throw std::runtime_error("regular expression search failed");
    if (!found)
        return std::nullopt;
    std::vector<std::string> groups;
    for (int32_t g = 0; g <= matcher->groupCount(); ++g) {
        status = U_ZERO_ERROR;
        if (matcher->start(g, status) < 0 || U_FAILURE(status)) {
            groups.emplace_back();
            continue;
        }
        groups.push_back(toUtf8(matcher->group(g, status)));
    }
    return groups;
}

std::vector<Regex::Groups> Regex::allMatches(std::string_view text) const {
    // Searched as UTF-8 through a UText, so that positions come back as byte offsets.
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, decltype(&utext_close)> subject(
        utext_openUTF8(nullptr, text.data(), int64_t(text.size()), &status), &utext_close);
    if (U_FAILURE(status) || !subject)
        throw std::runtime_error("ICU text unavailable");
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(status));
    if (U_FAILURE(status) || !matcher)
        throw std::runtime_error("ICU regular expression matcher unavailable");
    matcher->reset(subject.get());
    std::vector<Groups> matches;
    while (matcher->find(status)) {
        Groups groups;
        for (int32_t g = 0; g <= matcher->groupCount(); ++g) {
            const int64_t start = matcher->start64(g, status), end = matcher->end64(g, status);
            if (U_FAILURE(status))
                throw std::runtime_error("regular expression search failed");
            if (start < 0) {
                groups.emplace_back();
            } else {
                groups.emplace_back(std::pair(std::size_t(start), std::size_t(end)));
            }
        }
        matches.push_back(std::move(groups));
    }
    if (U_FAILURE(status))
        throw std::runtime_error("regular expression search failed");
    return matches;
}

int localizedStandardCompare(std::string_view a, std::string_view b) {
    static std::mutex lock;
    static std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        // The C locale maps to en_US_POSIX, whose tailoring sorts by code point, case first:
        // nothing like what a user expects. Use the root order there.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string_view(locale.getName()) == "en_US_POSIX")
            locale = icu::Locale::getRoot();
        std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !c)
            throw std::runtime_error("ICU collator unavailable");
        c->setStrength(icu::Collator::SECONDARY);
        c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        return c;
    }();
    icu::UnicodeString ua = toIcu(a), ub = toIcu(b);
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r;
    {
        std::lock_guard guard(lock);
        r = collator->compare(ua, ub, status);
    }
    if (U_FAILURE(status))
        r = UCOL_EQUAL;
    if (r != UCOL_EQUAL)
        return r == UCOL_LESS ? -1 : 1;
    // Forced ordering: strings that differ never compare equal.
    const auto raw = ua.compare(ub); // a number (-1, 0, 1), not a character
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

std::string lowercased(std::string_view text) {
    icu::UnicodeString s = toIcu(text);
    s.toLower(icu::Locale::getRoot());
    return toUtf8(s);
}

bool isControlOrFormat(char32_t c) {
    const int8_t category = u_charType(UChar32(c));
    return category == U_CONTROL_CHAR || category == U_FORMAT_CHAR;
}

namespace {

icu::UnicodeString folded(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString decomposed = normalizer(false).normalize(text, status);
    if (U_FAILURE(status))
        throw std::runtime_error("NFD normalisation failed");
    icu::UnicodeString stripped;
    for (int32_t i = 0; i < decomposed.length();) {
        UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK)
            stripped.append(c);
        i += U16_LENGTH(c);
    }
    stripped.foldCase();
    status = U_ZERO_ERROR;
    icu::UnicodeString composed = normalizer(true).normalize(stripped, status);
    if (U_FAILURE(status))
        throw std::runtime_error("NFC normalisation failed");
    return composed;
}

// A read-only ICU string over the caller's UTF-16 units (no copy).
icu::UnicodeString aliasing(std::u16string_view text) {
    return icu::UnicodeString(false, text.data(), int32_t(text.size()));
}

std::u16string toStd(const icu::UnicodeString& s) {
    return std::u16string(s.getBuffer(), std::size_t(s.length()));
}

} // namespace

std::string foldCaseAndDiacritics(std::string_view text) {
    return toUtf8(folded(toIcu(text)));
}

std::u16string foldCaseAndDiacritics(std::u16string_view text) {
    return toStd(folded(aliasing(text)));
}

std::u16string toUtf16(std::string_view text) {
    return toStd(toIcu(text));
}

std::string fromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = text[i++];
        if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i++]) - 0xDC00);
        appendUtf8(out, c); // a lone surrogate is written as U+FFFD
    }
    return out;
}

std::vector<std::size_t> graphemeBoundaries(std::u16string_view text) {
    std::vector<std::size_t> boundaries;
    boundaries.reserve(text.size() + 1);
    boundaries.push_back(0);
    if (text.empty())
        return boundaries;
    const icu::UnicodeString alias = aliasing(text);
    std::unique_ptr<icu::BreakIterator> it; // made on the first character that needs the rules
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t next;
        if (text[i] < 0x80 && (i + 1 == n || text[i + 1] < 0x80)) {
            // Between two ASCII characters there is always a boundary, except inside CR LF.
            next = text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n' ? i + 2 : i + 1;
        } else {
            if (!it)
                it = characterIterator(alias);
            next = std::size_t(it->following(int32_t(i)));
        }
        boundaries.push_back(next);
        i = next;
    }
    return boundaries;
}

bool isMark(char32_t c) {
    const int8_t category = u_charType(UChar32(c));
    return category == U_NON_SPACING_MARK || category == U_COMBINING_SPACING_MARK ||
           category == U_ENCLOSING_MARK;
}

} // namespace nuvel::unicode
