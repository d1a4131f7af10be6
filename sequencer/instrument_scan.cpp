#include "sequencer/instrument_scan.h"

#include <initializer_list>
#include <span>

namespace {

bool matches(std::span<const std::uint8_t> bytes, std::initializer_list<int> pattern)
{
    // -1 in the pattern matches any byte (a device number).
    if (bytes.size() < pattern.size())
        return false;
    std::size_t i = 0;
    for (const int expected : pattern) {
        if (expected >= 0 && bytes[i] != expected)
            return false;
        ++i;
    }
    return true;
}

} // namespace

void InstrumentScan::systemExclusive(std::span<const std::uint8_t> bytes)
{
    // XG system on: the bank comes from CC32, and CC0 >= 120 makes a drum channel.
    if (matches(bytes, { 0xF0, 0x43, -1, 0x4C, 0x00, 0x00, 0x7E, 0x00 }))
        m_xgSeen = true;
    // GS "use for rhythm part": part 0 is channel 10, parts 1 to 9 channels 1 to 9, then 11 on.
    if (matches(bytes, { 0xF0, 0x41, -1, 0x42, 0x12, 0x40, -1, 0x15, -1 })
        && (bytes[6] & 0xF0) == 0x10) {
        const int part = bytes[6] & 0x0F;
        const int channel = part == 0 ? 9 : part <= 9 ? part - 1 : part;
        if (bytes[8] != 0)
            m_drum.set(std::size_t(channel));
        else
            m_melodic.set(std::size_t(channel));
    }
}

std::set<InstrumentScan::Request> InstrumentScan::scan(
    const Smf::Song &song, const std::array<int, Channels> &banks)
{
    for (const Smf::Event &event : song.events) {
        const auto bytes = song.bytes(event);
        if (!bytes.empty() && bytes[0] == 0xF0)
            systemExclusive(bytes);
    }
    std::set<Request> requests { { 0, 0, false }, { DrumBank, 0, true } };
    // Every bank a channel can hold at each moment: a reset brings it back to 0.
    std::array<std::set<int>, Channels> possible;
    for (int channel = 0; channel < Channels; ++channel)
        possible[std::size_t(channel)] = { banks[std::size_t(channel)], 0 };
    for (const Smf::Event &event : song.events) {
        const auto bytes = song.bytes(event);
        if (bytes.size() < 2 || bytes[0] < 0x80 || bytes[0] >= 0xF0)
            continue;
        const auto channel = std::size_t(bytes[0] & 0x0F);
        const int kind = bytes[0] & 0xF0;
        if (kind == 0xB0 && bytes.size() >= 3 && bytes[1] == 0) {
            // GS takes the bank from CC0; General MIDI mode ignores it, and a reset later in
            // the song brings 0 back: the earlier banks stay possible.
            possible[channel].insert(bytes[2]);
            if (m_xgSeen && bytes[2] >= 120)
                m_drum.set(channel);
            else if (m_xgSeen)
                m_melodic.set(channel);
        } else if (kind == 0xB0 && bytes.size() >= 3 && bytes[1] == 32 && m_xgSeen) {
            possible[channel].insert(bytes[2]);
        } else if (kind == 0xC0) {
            const int program = bytes[1];
            if (m_melodic.test(channel)) {
                for (const int bank : possible[channel])
                    requests.insert({ bank, program, false });
            }
            if (m_drum.test(channel))
                requests.insert({ DrumBank, program, true });
        }
    }
    return requests;
}
