#pragma once

#include "midi/smf_reader.h"

#include <array>
#include <bitset>
#include <set>

// Works out every instrument request (bank and program, melodic or drum kit) that a song can make
// of the synthesizer, so that their samples can be loaded before it plays.
//
// Where the synthesizer's answer depends on modes a song can switch (General MIDI on ignores bank
// select, resets bring bank 0 back, GS rhythm parts and XG make drum channels), the scan takes
// every possibility: loading
// an instrument too many costs memory, one too few a read from disk while the song plays. Those
// modes outlive a song in the synthesizer, so the scanner remembers them from song to song.
class InstrumentScan
{
public:
    static constexpr int Channels = 16;
    static constexpr int DrumBank = 128;

    struct Request
    {
        int bank = 0;
        int program = 0;
        bool drum = false;
        auto operator<=>(const Request &) const = default;
    };

    // banks: the bank each channel holds before the song starts. The defaults of a reset channel
    // (program 0, and drum kit 0) are always part of the answer.
    std::set<Request> scan(const Smf::Song &song, const std::array<int, Channels> &banks);

private:
    void systemExclusive(std::span<const std::uint8_t> bytes);

    bool m_xgSeen = false;
    // Channels that can be drum channels, and channels that can be melodic.
    std::bitset<Channels> m_drum { 1u << 9 };
    std::bitset<Channels> m_melodic { 0xFFFFu & ~(1u << 9) };
};
