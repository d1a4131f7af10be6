#pragma once

#include "midi/smf_song.h"

#include <span>
#include <string>

namespace Smf {

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
// division of 0, a chunk or event length past the end, a variable-length number of more than four
// bytes, a data byte with no status, no track; and any file over 1 GiB.
// Time and memory grow with the file's size only: O(n log n) time, a few bytes per file byte.
ReadResult readSong(std::span<const std::uint8_t> file);

} // namespace Smf
