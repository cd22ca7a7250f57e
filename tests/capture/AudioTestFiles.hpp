#pragma once

// Helpers shared by the audio-file tests: tones written as CAF, fixtures made with the ffmpeg
// command-line tool, and ffprobe's view of a file.

#include "NuvelKit/capture/CafFile.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace nuvel::test {

inline std::string quoted(const std::filesystem::path& path) {
    std::string out = "'";
    for (char c : path.string()) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

struct CommandResult {
    int status = -1;
    std::string output;
};

inline CommandResult runCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Runs `ffmpeg -y <arguments> <output>` and fails the test when it does not produce the file.
inline void makeWithFfmpeg(const std::string& arguments, const std::filesystem::path& output) {
    CommandResult r =
        runCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " " + quoted(output));
    ASSERT_EQ(r.status, 0) << "ffmpeg " << arguments;
    ASSERT_TRUE(std::filesystem::exists(output));
}

// ffprobe's fields of the first audio stream and of the format ("codec_name", "profile",
// "sample_rate", "channels", "duration" of the format, "format_name"); empty when ffprobe fails.
inline std::map<std::string, std::string> probe(const std::filesystem::path& path) {
    std::map<std::string, std::string> fields;
    CommandResult stream = runCommand("ffprobe -v error -select_streams a:0 -show_entries "
                                      "stream=codec_name,profile,sample_rate,channels,bit_rate "
                                      "-of default=noprint_wrappers=1 " +
                                      quoted(path));
    CommandResult format = runCommand(
        "ffprobe -v error -show_entries format=duration,format_name -of default=noprint_wrappers=1 " +
        quoted(path));
    if (stream.status != 0 || format.status != 0)
        return fields;
    for (const std::string* text : {&stream.output, &format.output}) {
        std::size_t start = 0;
        while (start < text->size()) {
            std::size_t end = text->find('\n', start);
            if (end == std::string::npos)
                end = text->size();
            std::string line = text->substr(start, end - start);
            if (std::size_t eq = line.find('='); eq != std::string::npos)
                fields[line.substr(0, eq)] = line.substr(eq + 1);
            start = end + 1;
        }
    }
    return fields;
}

inline double probedDuration(const std::filesystem::path& path) {
    auto fields = probe(path);
    return fields.count("duration") ? std::stod(fields["duration"]) : -1;
}

// A sine of `frequency` Hz at amplitude 0.5, continuing from frame `startFrame`.
inline std::vector<float> tone(double rate, std::int64_t frames, double frequency = 440,
                               std::int64_t startFrame = 0, int channels = 1) {
    std::vector<float> samples(std::size_t(frames) * std::size_t(channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        float v = float(0.5 * std::sin(2 * M_PI * frequency * double(startFrame + i) / rate));
        for (int c = 0; c < channels; ++c)
            samples[std::size_t(i) * std::size_t(channels) + std::size_t(c)] = v;
    }
    return samples;
}

inline void writeToneCaf(const std::filesystem::path& path, double rate, double seconds,
                         double frequency = 440, int channels = 1) {
    CafWriter writer = CafWriter::create(path, rate, channels);
    auto frames = std::int64_t(std::llround(seconds * rate));
    for (std::int64_t at = 0; at < frames; at += 4800) {
        std::int64_t n = std::min<std::int64_t>(4800, frames - at);
        writer.append(tone(rate, n, frequency, at, channels));
    }
    writer.close();
}

inline mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A mono 32-bit float WAV of `samples` at `rate`, written byte by byte so that any value, NaN and
// infinity included, reaches the file as it is.
inline void writeFloatWav(const std::filesystem::path& path, int rate, const std::vector<float>& samples) {
    std::string bytes;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes += char((v >> (8 * i)) & 0xff);
    };
    auto put16 = [&](std::uint16_t v) {
        bytes += char(v & 0xff);
        bytes += char(v >> 8);
    };
    const auto dataBytes = std::uint32_t(samples.size() * sizeof(float));
    bytes += "RIFF";
    put32(36 + dataBytes);
    bytes += "WAVEfmt ";
    put32(16);
    put16(3); // IEEE float
    put16(1);
    put32(std::uint32_t(rate));
    put32(std::uint32_t(rate) * 4);
    put16(4);
    put16(32);
    bytes += "data";
    put32(dataBytes);
    bytes.append(reinterpret_cast<const char*>(samples.data()), dataBytes);
    writeBytes(path, bytes);
}

// A copy of `from` with the big-endian 32-bit field `offset` bytes after the first box named
// `box` (its four letters) set to `value`: an MP4 header damaged in one field.
inline void writeWithBoxField(const std::filesystem::path& from, const std::filesystem::path& into,
                              const char* box, std::size_t offset, std::uint32_t value) {
    FILE* f = std::fopen(from.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string bytes;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, f))
        bytes.append(buffer, n);
    std::fclose(f);
    const std::size_t at = bytes.find(box);
    ASSERT_NE(at, std::string::npos) << box;
    ASSERT_LE(at + offset + 4, bytes.size());
    for (int i = 0; i < 4; ++i)
        bytes[at + offset + std::size_t(i)] = char((value >> (8 * (3 - i))) & 0xff);
    writeBytes(into, bytes);
}

// The file's first `size` bytes written to `into`: a file cut short.
inline void writeTruncatedCopy(const std::filesystem::path& from, const std::filesystem::path& into,
                               std::size_t size) {
    std::filesystem::copy_file(from, into);
    std::filesystem::resize_file(into, size);
}

// Deterministic noise bytes that no container recognises.
inline std::string garbage(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x & 0xff);
    }
    return bytes;
}

} // namespace nuvel::test
