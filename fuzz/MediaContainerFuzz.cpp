// Feeds the media container reader. Half the inputs are read as containers as they are, so the
// header and the length framing meet arbitrary bytes. The other half describe a well-formed
// container (the clear bytes and how they are cut into records, sealed under a fixed key) and
// one change to it: unchanged, the reader must give back exactly the clear bytes; changed in any
// way (a byte flipped, cut short, a record dropped, repeated or moved, a byte appended) it must
// refuse with the container's own errors, never with clear bytes of a forged record.
//
//   build/fuzz/fuzz/fuzz_MediaContainerFuzz -max_total_time=600 <work-corpus> fuzz/corpus/MediaContainerFuzz
#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace nuvel;

constexpr std::string_view context =
    "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D/11111111-2222-4333-8444-555555555555";

const SymmetricKey& key() {
    static const SymmetricKey k = SymmetricKey::fromBytes(Bytes(SymmetricKey::size, 0x5a));
    return k;
}

files::FileDescriptor memoryFile(std::string_view contents) {
    files::FileDescriptor fd(::memfd_create("container", 0));
    if (!fd)
        fuzz::finding("memfd_create failed");
    fd.writeAll(viewOf(contents), {});
    ::lseek(fd.get(), 0, SEEK_SET);
    return fd;
}

std::string contentsOf(const files::FileDescriptor& fd) {
    ::lseek(fd.get(), 0, SEEK_SET);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(n));
    return out;
}

// The clear bytes, or the error kind: 1 framing (invalidManifest), 2 authentication.
struct Outcome {
    int refusal = 0;
    std::string clear;
};

Outcome read(std::string_view container) {
    const files::FileDescriptor input = memoryFile(container);
    const files::FileDescriptor output = memoryFile({});
    Outcome outcome;
    try {
        EncryptedMedia::decrypt(input, output, key(), context);
        outcome.clear = contentsOf(output);
    } catch (const RecordingError& e) {
        if (e.code() != RecordingError::Code::invalidManifest)
            fuzz::finding("an unexpected RecordingError");
        outcome.refusal = 1;
    } catch (const CryptoError& e) {
        if (e.code() != CryptoError::Code::authenticationFailure)
            fuzz::finding("an unexpected CryptoError");
        outcome.refusal = 2;
    }
    return outcome;
}

std::string frame(std::string_view clear, const std::string& aad) {
    std::string record(4 + clear.size() + SealedBox::overhead, '\0');
    const std::size_t length = clear.size() + SealedBox::overhead;
    for (int i = 0; i < 4; ++i)
        record[std::size_t(i)] = char(length >> (24 - 8 * i));
    aesgcm::sealInto(key(), viewOf(clear), viewOf(aad),
                     std::span(reinterpret_cast<std::uint8_t*>(record.data()) + 4, length));
    return record;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.byte();
    if (mode % 2 == 0) {
        (void)read(in.rest());
        return 0;
    }

    // Records of 1 to 256 clear bytes each (a writer never makes an empty data record), then the
    // end record; the byte after the mode says how the container is changed afterwards.
    const std::uint8_t change = in.byte();
    const std::size_t at = in.number();
    const std::size_t other = in.number();
    std::vector<std::string> records;
    std::string clear;
    while (!in.empty() && records.size() < 64) {
        const std::size_t length = std::size_t(in.byte()) + 1;
        const std::string_view chunk = in.take(length);
        if (chunk.empty())
            break;
        records.push_back(frame(chunk, std::string(context) + "/" + std::to_string(records.size())));
        clear += chunk;
    }
    const std::string end = frame({}, std::string(context) + "/end/" + std::to_string(records.size()));

    auto join = [&](const std::vector<std::string>& parts) {
        std::string out(EncryptedMedia::header);
        for (const std::string& r : parts)
            out += r;
        return out + end;
    };
    std::string container = join(records);
    const std::size_t n = records.size();
    switch (change % 7) {
    case 0: {
        const Outcome outcome = read(container);
        if (outcome.refusal != 0 || outcome.clear != clear)
            fuzz::finding("a whole container does not read back");
        return 0;
    }
    case 1:
        container[at % container.size()] ^= char(1 << (other % 8));
        break;
    case 2:
        container.resize(at % container.size());
        break;
    case 3:
        container += char(other);
        break;
    case 4:
        if (n == 0)
            return 0;
        records.erase(records.begin() + std::ptrdiff_t(at % n));
        container = join(records);
        break;
    case 5: {
        if (n == 0)
            return 0;
        const std::string repeated = records[at % n];
        records.insert(records.begin() + std::ptrdiff_t(other % (n + 1)), repeated);
        container = join(records);
        break;
    }
    case 6: {
        if (n < 2 || at % n == other % n)
            return 0;
        std::swap(records[at % n], records[other % n]);
        container = join(records);
        break;
    }
    }
    if (read(container).refusal == 0)
        fuzz::finding("a changed container was read as whole");
    return 0;
}
