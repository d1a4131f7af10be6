#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// A Standard MIDI File's content as the reader gives it and the writer takes it.
namespace Smf {

// Microseconds per quarter note when a song sets no tempo.
inline constexpr std::uint32_t DefaultTempo = 500000;
// The largest number a variable-length quantity holds (four bytes of seven bits).
inline constexpr std::uint32_t MaxDelta = 0x0FFFFFFF;

// The meta event that sets a tempo: FF 51, then the microseconds per quarter note.
constexpr std::array<std::uint8_t, 5> tempoEvent(std::uint32_t tempo)
{
    return { 0xFF, 0x51, std::uint8_t(tempo >> 16 & 0xFF), std::uint8_t(tempo >> 8 & 0xFF),
        std::uint8_t(tempo & 0xFF) };
}

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
    // Appends an event made of prefix followed by bytes.
    void append(std::uint64_t tick, std::span<const std::uint8_t> bytes,
        std::span<const std::uint8_t> prefix = {});
};

} // namespace Smf
