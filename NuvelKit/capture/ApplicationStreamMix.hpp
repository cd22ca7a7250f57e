#pragma once

#include "NuvelKit/capture/SystemAudioOutput.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace nuvel {

// One application's audio as one stream: the sum of all its output streams, placed by their
// host times on one 48000 Hz timeline and handed to a SystemAudioOutput in contiguous pieces.
// Streams come and go while the application runs; one that ends simply stops contributing.
//
// Frame f of the timeline begins at host time origin + f / 48000. The mix hands out frames up to
// the point every open stream has reached, but never waits more than `holdSeconds` behind now
// for a slow one (or for the first audio of a new one), and hands out silence while no stream is
// open (an application that plays nothing is quiet, not gone). Audio that arrives for frames
// already handed out, or more than `capacity` frames ahead, is cut; frames older than
// `latestSeconds` are not handed out at all (the capture's consumer would refuse them) and are
// cut too. Of what is cut, the process's CaptureLossTally counts the frames the recording then
// lacks: not those where the stream's own audio already lies, and none before the recording
// began (`recordFrom`). When every open stream has been silent for more than `freshSeconds`,
// the mix hands out nothing: a stalled stream shows as a source that stopped delivering.
//
// Not thread-safe: one caller serialises every call (the sound server's mainloop lock). Only
// `addStream` allocates.
class ApplicationStreamMix {
public:
    using StreamID = std::uint32_t;

    static constexpr double rate = SystemAudioOutput::sampleRate;
    // A PipeWire server hands an application stream's audio over in bursts of about 0.15 s, the
    // oldest of it as old as that when it comes, and later still on a busy machine: a wait at the
    // edge of that cut a little of every burst of whichever stream came last.
    static constexpr double holdSeconds = 0.4;
    static constexpr double freshSeconds = 0.5;
    static constexpr double latestSeconds = 0.45;
    static constexpr std::int64_t capacity = 96000;    // 2 s ahead of what was handed out
    static constexpr std::uint32_t pieceFrames = 4096; // at most this much per hand-out
    // No hand-out is shorter (10 ms): the level meter reads the latest piece, and the ring has
    // few slots.
    static constexpr std::int64_t leastFrames = 480;
    // A piece that begins this close to where its stream's last piece ended continues it.
    static constexpr std::int64_t continuityFrames = 2;

    ApplicationStreamMix(std::shared_ptr<SystemAudioOutput> output, double origin);

    // A new stream that has delivered nothing yet; it counts as delivering for `freshSeconds`.
    StreamID addStream(double now);
    // The stream contributes nothing from now on. Unknown ids are ignored.
    void endStream(StreamID id);
    // The recording begins at `hostTime` (at the origin until this is called): what is cut
    // before it is not lost, such as the older part of a starting stream's first audio.
    void recordFrom(double hostTime);

    // Adds mono audio of an open stream whose first frame begins at `hostTime`, then hands out
    // what is due at `now`. Audio at another rate than 48000 Hz, or with a non-finite time, marks
    // the output lost. Audio of an ended or unknown stream is ignored.
    void deliver(StreamID id, const float* mono, std::uint32_t frames, double sampleRate, double hostTime,
                 double now);
    // Hands out what is due at `now`.
    void advance(double now);

    // Frames of stream audio that were cut (late, too far ahead, or too old to hand out).
    std::int64_t cutFrames() const noexcept { return cut_; }
    std::size_t openStreams() const noexcept;

private:
    struct Stream {
        StreamID id = 0;
        bool open = true;
        bool delivered = false;
        std::int64_t end = 0;   // frame after its latest audio
        double lastArrival = 0; // `now` of its latest delivery (or of its adding)
    };

    Stream* find(StreamID id);
    std::int64_t frameAt(double hostTime) const;
    std::int64_t target(double now) const;
    void handOut(std::int64_t until);
    void drop(std::int64_t until);
    // Counts frames cut here, and those of them the recording lacks in the process's
    // CaptureLossTally.
    void cut(std::int64_t frames, std::int64_t lost) noexcept;

    std::shared_ptr<SystemAudioOutput> output_;
    double origin_;
    std::vector<float> buffer_; // frame f at f % capacity, for next_ <= f < next_ + capacity
    std::vector<float> piece_;  // one hand-out, `pieceFrames` long
    std::vector<Stream> streams_;
    StreamID nextID_ = 1;
    std::int64_t next_ = 0; // the next frame to hand out
    std::int64_t cut_ = 0;
    std::int64_t placedEnd_ = 0;    // frame after the latest audio placed in the buffer
    std::int64_t recordedFrom_ = 0; // the recording's first frame
};

} // namespace nuvel
