#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Smf {

// One event of a song: its absolute time in ticks and its bytes, kept in Song::data.
// Channel messages are stored whole (status byte first, running status expanded); meta events
// as FF, type, data; SysEx as F0 or F7 followed by its data. End of Track is not an event: it
// becomes Song::endTick.
struct Event
{
    std::uint64_t tick = 0;
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct Song
{
    int format = 0;
    // The header's division word: ticks per quarter note, or with bit 15 set the SMPTE frame
    // rate (negated, high byte) and ticks per frame (low byte).
    std::uint16_t division = 0;
    // Where the song ends: the latest End of Track of its tracks (or their last event).
    std::uint64_t endTick = 0;
    // Every track's events merged in time order; at equal times earlier tracks come first.
    std::vector<Event> events;
    std::vector<std::uint8_t> data;

    bool isSmpte() const { return (division & 0x8000) != 0; }
    std::span<const std::uint8_t> bytes(const Event &event) const
    {
        return { data.data() + event.offset, event.size };
    }
    void append(std::uint64_t tick, std::span<const std::uint8_t> bytes);
};

struct ReadResult
{
    Song song;
    // Why the file was refused; empty when it was read.
    std::string error;
};

// Reads a Standard MIDI File (also inside a RIFF RMID wrapper). Lenient where the intent is
// clear: running status survives meta and SysEx events, unknown chunks are skipped, a track may
// lack End of Track, any number of tracks is merged (format 0 too), data bytes above 127 are
// clamped, stray system common and real-time bytes are skipped. Format 2 tracks are played one
// after another, each starting at the default tempo. Refuses broken structure: no header, a
// division of 0, a chunk or event length past the end or negative, a variable-length number of
// more than four bytes, a data byte with no status, no track.
// Time and memory grow with the file's size only: O(n log n) time, a few bytes per file byte.
ReadResult readSong(std::span<const std::uint8_t> file);

} // namespace Smf
