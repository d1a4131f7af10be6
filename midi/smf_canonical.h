#pragma once

#include "midi/smf_song.h"

#include <string>

namespace Smf {

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
inline constexpr std::uint64_t MaxSongMilliseconds = MaxDelta;

CanonicalSong canonicalSong(const Song &song);

} // namespace Smf
