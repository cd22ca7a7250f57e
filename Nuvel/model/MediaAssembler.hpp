#pragma once

#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/capture/MediaAssembly.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace nuvel {

// Audio composition, digests, upload parts and import conversion, as the application model
// uses them. Every operation blocks: the model calls them on its actor executor.
class MediaAssembler {
public:
    struct FileDigest {
        std::string sha256; // 64 lower-case hexadecimal digits
        std::int64_t size = 0;
        bool operator==(const FileDigest&) const = default;
    };

    virtual ~MediaAssembler() = default;

    // The recording's stored segments joined into one new clear M4A "transport" working file
    // in its folder; the caller removes it through the store.
    virtual std::filesystem::path assemble(const LocalRecording& recording, WorkspaceStore& store) = 0;
    virtual FileDigest fileDigest(const std::filesystem::path& file) = 0;
    // At most `partBytes` bytes from `index` × `partBytes`.
    virtual Bytes readPart(const std::filesystem::path& file, std::int64_t index, std::int64_t partBytes) = 0;
    // Decodes any audio or movie file into a new M4A file; its duration in seconds.
    virtual double convertImport(const std::filesystem::path& source,
                                 const std::filesystem::path& target) = 0;
};

// The application's assembler: the core MediaAssembly over the workspace's RecordingStore.
class RecordingMediaAssembler final : public MediaAssembler {
public:
    explicit RecordingMediaAssembler(
        std::shared_ptr<MediaAssembly> assembly = std::make_shared<MediaAssembly>());

    std::filesystem::path assemble(const LocalRecording& recording, WorkspaceStore& store) override;
    FileDigest fileDigest(const std::filesystem::path& file) override;
    Bytes readPart(const std::filesystem::path& file, std::int64_t index, std::int64_t partBytes) override;
    double convertImport(const std::filesystem::path& source, const std::filesystem::path& target) override;

private:
    std::shared_ptr<MediaAssembly> assembly_;
};

} // namespace nuvel
