#pragma once

#include "midi/smf_song.h"

namespace Smf {

// Writes the song as a format 0 file with one track in its own division: every event with its
// status byte, End of Track at endTick. readSong gives back the same events and endTick, plus an
// empty text event wherever a gap was too long for a delta time (2^28 ticks): such gaps arise
// where the reader skipped a system message, or between the sequences of an SMPTE format 2
// file, and are bridged that way.
std::vector<std::uint8_t> writeSong(const Song &song);

} // namespace Smf
