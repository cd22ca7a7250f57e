#include "NuvelKit/meetings/MeetingCorrection.hpp"

#include "NuvelKit/support/Uuid.hpp"

#include <charconv>

namespace nuvel {
namespace {

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace

std::vector<MeetingRevisionOperation> MeetingCorrection::revisionOperations() const {
    return std::visit(
        Overloaded{
            [](const Word& c) { return std::vector{MeetingRevisionOperation::wordText(c.id, c.text)}; },
            [](const RenameSpeaker& c) {
                return std::vector{MeetingRevisionOperation::speakerLabel(c.id, c.name)};
            },
            [](const AssignSpeaker& c) {
                std::vector<MeetingRevisionOperation> operations;
                operations.reserve(c.wordIDs.size());
                for (const std::string& wordID : c.wordIDs)
                    operations.push_back(MeetingRevisionOperation::wordSpeaker(wordID, c.speakerID));
                return operations;
            },
        },
        value);
}

std::optional<std::int64_t> parseMeetingRevision(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty())
        return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    // Parse with the sign so that the most negative Int64 is accepted.
    std::string signedDigits = (negative ? "-" : "") + std::string(digits);
    std::int64_t value = 0;
    auto [end, error] =
        std::from_chars(signedDigits.data(), signedDigits.data() + signedDigits.size(), value);
    if (error != std::errc() || end != signedDigits.data() + signedDigits.size())
        return std::nullopt;
    return value;
}

std::optional<MeetingRevisionRequest> makeRevisionRequest(const MeetingCorrection& correction,
                                                          std::string_view revisionText) {
    std::optional<std::int64_t> revision = parseMeetingRevision(revisionText);
    if (!revision)
        return std::nullopt;
    return MeetingRevisionRequest::make(Uuid::random(), *revision, correction.revisionOperations());
}

} // namespace nuvel
