#include "Nuvel/platform/UpdateArchive.hpp"

#include "Nuvel/platform/UpdateFeed.hpp"
#include "NuvelKit/support/UpdateSafety.hpp"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <string>

namespace nuvel::UpdateArchive {

namespace fs = std::filesystem;

namespace {

using Reader = std::unique_ptr<struct archive, decltype(&archive_read_free)>;
using Writer = std::unique_ptr<struct archive, decltype(&archive_write_free)>;

[[noreturn]] void refuse(const std::string& why) {
    throw UpdateError(UpdateError::Code::archiveUnsafe, why);
}

// No longer than the limits, in all and in every step: a name the file system could not take
// is refused here rather than met as an error of the file system.
bool shortEnough(const fs::path& name) {
    if (name.native().size() > maximumNameBytes)
        return false;
    for (const fs::path& step : name)
        if (step.native().size() > maximumStepBytes)
            return false;
    return true;
}

// A relative name without "..", "." only as a whole.
bool staysInside(const fs::path& name) {
    if (name.empty() || name.is_absolute())
        return false;
    for (const fs::path& step : name)
        if (step == "..")
            return false;
    return true;
}

// A link's target, taken from the folder that holds the link, must not climb out.
bool linkStaysInside(const fs::path& link, const fs::path& target) {
    if (target.empty() || target.is_absolute())
        return false;
    int depth = 0;
    for (const fs::path& step : link.parent_path() / target) {
        if (step == "..")
            --depth;
        else if (step != "." && !step.empty())
            ++depth;
        if (depth < 0)
            return false;
    }
    return true;
}

// Bits no installed file or folder keeps: set-user-id, set-group-id, sticky, and writing by
// the group or others.
constexpr auto strippedBits = fs::perms::set_uid | fs::perms::set_gid | fs::perms::sticky_bit |
                              fs::perms::group_write | fs::perms::others_write;

// The unpacked tree as a whole: every link, followed through every link on its way, ends inside
// `root` (one link alone may look inside while the chain leaves); no file or folder keeps a bit
// it must not have, including one a folder inherited from the folder it was made in.
void settle(const fs::path& root) {
    std::error_code error;
    const fs::path top = fs::canonical(root, error);
    for (auto it = fs::recursive_directory_iterator(top, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        const fs::file_status status = it->symlink_status(error);
        if (error)
            break;
        if (fs::is_symlink(status)) {
            if (!UpdateSafety::linkEndsInside(path, top))
                refuse("a chain of links that leads out: " + path.lexically_relative(top).string());
        } else if ((status.permissions() & strippedBits) != fs::perms::none) {
            fs::permissions(path, status.permissions() & ~strippedBits, fs::perm_options::replace, error);
            if (error)
                break;
        }
    }
    if (error)
        refuse("the unpacked tree cannot be read: " + error.message());
}

// The library leaves its error text unset for some damaged input.
std::string errorText(struct archive* a) {
    const char* text = archive_error_string(a);
    return text != nullptr ? text : "damaged";
}

void check(struct archive* a, int status, const char* what) {
    if (status < ARCHIVE_WARN)
        refuse(std::string(what) + ": " + errorText(a));
}

} // namespace

void unpack(const fs::path& archive, const fs::path& destination) {
    Reader reader(archive_read_new(), &archive_read_free);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_filter_xz(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_filename(reader.get(), archive.c_str(), 64 * 1024) != ARCHIVE_OK)
        refuse("unreadable archive: " + errorText(reader.get()));

    if (!fs::create_directory(destination))
        refuse("the unpacking folder exists already");
    fs::permissions(destination, fs::perms(0755));

    Writer writer(archive_write_disk_new(), &archive_write_free);
    archive_write_disk_set_options(
        writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                          ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_NO_OVERWRITE);
    const std::string tooLarge =
        "an archive that unpacks to more than " + std::to_string(maximumUnpackedBytes >> 20) + " MiB";
    std::size_t entries = 0;
    std::int64_t unpackedBytes = 0; // of the entries finished
    while (true) {
        struct archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        check(reader.get(), status, "reading the archive");
        const char* rawName = archive_entry_pathname(entry);
        if (rawName == nullptr)
            refuse("an entry without a name");
        const fs::path name = fs::path(rawName).lexically_normal();
        if (name == "." || name == "./")
            continue;
        if (!shortEnough(name))
            refuse("an entry name longer than " + std::to_string(maximumNameBytes) +
                   " bytes, or a step in it longer than " + std::to_string(maximumStepBytes));
        if (!staysInside(name))
            refuse(std::string("an entry outside the archive: ") + rawName);
        if (archive_entry_hardlink(entry) != nullptr)
            refuse(std::string("a hard link: ") + rawName);
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            if (target == nullptr || !linkStaysInside(name, target))
                refuse(std::string("a link that leads out: ") + rawName);
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            refuse(std::string("an entry that is not a file, folder or link: ") + rawName);
        }
        if (++entries > maximumEntries)
            refuse("more than " + std::to_string(maximumEntries) + " entries");
        // The size an entry says it has, then what it really unpacks to, are held to the limit.
        if (type == AE_IFREG && archive_entry_size_is_set(entry) != 0 &&
            archive_entry_size(entry) > maximumUnpackedBytes - unpackedBytes)
            refuse(tooLarge);
        archive_entry_set_pathname(entry, (destination / name).c_str());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0755);
        check(writer.get(), archive_write_header(writer.get(), entry), "unpacking");
        std::int64_t entryBytes = 0; // holes included
        if (type == AE_IFREG) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            while (true) {
                const int read = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (read == ARCHIVE_EOF)
                    break;
                check(reader.get(), read, "reading the archive");
                if (offset < 0 || la_int64_t(size) > maximumUnpackedBytes - unpackedBytes ||
                    offset > maximumUnpackedBytes - unpackedBytes - la_int64_t(size))
                    refuse(tooLarge);
                entryBytes = std::max<std::int64_t>(entryBytes, offset + la_int64_t(size));
                check(writer.get(),
                      static_cast<int>(archive_write_data_block(writer.get(), block, size, offset)),
                      "unpacking");
            }
        }
        check(writer.get(), archive_write_finish_entry(writer.get()), "unpacking");
        if (type == AE_IFREG)
            entryBytes = std::max<std::int64_t>(entryBytes, archive_entry_size(entry));
        unpackedBytes += entryBytes;
    }
    check(writer.get(), archive_write_close(writer.get()), "unpacking");
    if (entries == 0)
        refuse("an empty archive");
    settle(destination);
}

} // namespace nuvel::UpdateArchive
