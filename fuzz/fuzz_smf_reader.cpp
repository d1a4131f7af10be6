#include "fuzz/fuzz_support.h"
#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <span>

namespace {

bool isEmptyText(std::span<const std::uint8_t> bytes)
{
    return bytes.size() == 2 && bytes[0] == 0xFF && bytes[1] == 0x01;
}

// Whether b holds a's events, but for the empty text events the writer adds to bridge gaps
// longer than a delta time can hold.
bool sameEvents(const Smf::Song &a, const Smf::Song &b)
{
    if (a.division != b.division || a.endTick != b.endTick)
        return false;
    std::size_t j = 0;
    for (std::size_t i = 0; i < a.events.size(); ++i, ++j) {
        const std::span<const std::uint8_t> x = a.bytes(a.events[i]);
        while (j < b.events.size() && isEmptyText(b.bytes(b.events[j]))
            && !(isEmptyText(x) && b.events[j].tick == a.events[i].tick))
            ++j;
        if (j == b.events.size() || a.events[i].tick != b.events[j].tick
            || !std::ranges::equal(x, b.bytes(b.events[j])))
            return false;
    }
    for (; j < b.events.size(); ++j) {
        if (!isEmptyText(b.bytes(b.events[j])))
            return false;
    }
    return true;
}

// Events in time order, none after the song's end.
bool inOrder(const Smf::Song &song)
{
    const auto earlier = [](const Smf::Event &x, const Smf::Event &y) { return x.tick < y.tick; };
    return std::ranges::is_sorted(song.events, earlier)
        && (song.events.empty() || song.events.back().tick <= song.endTick);
}

// Whether a note is still sounding once every event has been played.
bool noteLeftOn(const Smf::Song &song)
{
    std::bitset<16 * 128> sounding;
    for (const Smf::Event &event : song.events) {
        const std::span<const std::uint8_t> bytes = song.bytes(event);
        const std::uint8_t kind = bytes.empty() ? 0 : bytes[0] & 0xF0;
        if ((kind == 0x90 || kind == 0x80) && bytes.size() == 3)
            sounding[(bytes[0] & 0x0F) * 128 + bytes[1]] = kind == 0x90 && bytes[2] > 0;
    }
    return sounding.any();
}

} // namespace

// Any bytes either fail to read or give a song in time order that the writer writes and the
// reader reads back to the same events; its canonical form, if it has one, is the same kind of
// song at 500 ticks per quarter note in which every note ends.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const Smf::ReadResult read = Smf::readSong(std::span(data, size));
    if (!read.error.empty()) {
        FUZZ_CHECK(read.song.events.empty());
        return 0;
    }
    const Smf::Song &song = read.song;
    FUZZ_CHECK(inOrder(song));

    const std::vector<std::uint8_t> written = Smf::writeSong(song);
    const Smf::ReadResult again = Smf::readSong(written);
    FUZZ_CHECK(again.error.empty() && again.song.format == 0);
    FUZZ_CHECK(sameEvents(song, again.song));

    const Smf::CanonicalSong canonical = Smf::canonicalSong(song);
    if (!canonical.error.empty())
        return 0;
    const Smf::Song &played = canonical.song;
    FUZZ_CHECK(played.division == Smf::CanonicalDivision && inOrder(played));
    FUZZ_CHECK(played.endTick <= Smf::MaxSongMilliseconds && canonical.endSeconds >= 0);
    FUZZ_CHECK(!noteLeftOn(played));
    const Smf::ReadResult reread = Smf::readSong(Smf::writeSong(played));
    FUZZ_CHECK(reread.error.empty() && sameEvents(played, reread.song));
    return 0;
}
