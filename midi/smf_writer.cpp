#include "midi/smf_writer.h"

#include <array>

namespace Smf {

namespace {

void putVlq(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    std::array<std::uint8_t, 4> groups {};
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value && count < 4);
    while (count > 1)
        out.push_back(groups[--count] | 0x80);
    out.push_back(groups[0]);
}

void put32(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t value)
{
    out[at] = value >> 24 & 0xFF;
    out[at + 1] = value >> 16 & 0xFF;
    out[at + 2] = value >> 8 & 0xFF;
    out[at + 3] = value & 0xFF;
}

// Writes the delta time from last to tick, bridging gaps longer than a delta can hold.
void putDelta(std::vector<std::uint8_t> &out, std::uint64_t &last, std::uint64_t tick)
{
    while (tick - last > MaxDelta) {
        putVlq(out, MaxDelta);
        out.insert(out.end(), { 0xFF, 0x01, 0x00 });
        last += MaxDelta;
    }
    putVlq(out, static_cast<std::uint32_t>(tick - last));
    last = tick;
}

} // namespace

std::vector<std::uint8_t> writeSong(const Song &song)
{
    std::vector<std::uint8_t> out { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
        static_cast<std::uint8_t>(song.division >> 8),
        static_cast<std::uint8_t>(song.division & 0xFF), 'M', 'T', 'r', 'k', 0, 0, 0, 0 };
    out.reserve(out.size() + song.data.size() + 2 * song.events.size() + 8);
    const std::size_t trackStart = out.size();
    std::uint64_t last = 0;
    for (const Event &event : song.events) {
        const std::span<const std::uint8_t> bytes = song.bytes(event);
        putDelta(out, last, event.tick);
        if (bytes.empty())
            continue;
        if (bytes[0] == 0xFF && bytes.size() >= 2) {
            out.insert(out.end(), bytes.begin(), bytes.begin() + 2);
            putVlq(out, static_cast<std::uint32_t>(bytes.size() - 2));
            out.insert(out.end(), bytes.begin() + 2, bytes.end());
        } else if (bytes[0] == 0xF0 || bytes[0] == 0xF7) {
            out.push_back(bytes[0]);
            putVlq(out, static_cast<std::uint32_t>(bytes.size() - 1));
            out.insert(out.end(), bytes.begin() + 1, bytes.end());
        } else {
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    putDelta(out, last, std::max(song.endTick, last));
    out.insert(out.end(), { 0xFF, 0x2F, 0x00 });
    put32(out, trackStart - 4, static_cast<std::uint32_t>(out.size() - trackStart));
    return out;
}

} // namespace Smf
