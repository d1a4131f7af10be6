#pragma once

#include "midi/smf_reader.h"

namespace Smf {

// Writes the song as a format 0 file with one track in its own division: every event with its
// status byte, End of Track at endTick. readSong gives back the same events and endTick, plus an
// empty text event wherever a gap was too long for a delta time (2^28 ticks): such gaps arise
// where the reader skipped a system message, or between the sequences of an SMPTE format 2
// file, and are bridged that way.
std::vector<std::uint8_t> writeSong(const Song &song);

// The canonical form of a song, as the synthesizer's player gets it: one tick is one
// millisecond (500 ticks per quarter note at the default tempo, which a single tempo event at
// tick 0 states), the tempo map and SMPTE timing already applied to every event's time. It
// keeps channel messages and complete SysEx messages only, and switches off at the song's end
// every note still sounding, so that the player always comes to its end.
struct CanonicalSong
{
    Song song;
    // Time of the song's end (its last event or End of Track) in seconds.
    double endSeconds = 0;
    // Why the song cannot be played; empty when it can.
    std::string error;
};

inline constexpr std::uint16_t CanonicalDivision = 500;
// Songs longer than about 74 hours are refused: every gap then fits a variable-length number
// and every tick fits the player's 32-bit counters.
inline constexpr std::uint64_t MaxSongMilliseconds = 0x0FFFFFFF;

CanonicalSong canonicalSong(const Song &song);

} // namespace Smf
