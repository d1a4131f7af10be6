#include "tests/support/smf_builder.h"

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <ranges>

using namespace Qt::StringLiterals;

namespace SmfBuilder {

QByteArray header(int format, int tracks, int division)
{
    QByteArray body;
    for (const int word : { format, tracks, division })
        body += char(word >> 8) + QByteArray(1, char(word));
    return chunk("MThd", body);
}

QByteArray chunk(const char *id, const QByteArray &body, std::int64_t length)
{
    const auto n = std::uint32_t(length < 0 ? body.size() : length);
    return QByteArray(id, 4) + char(n >> 24) + char(n >> 16) + char(n >> 8) + char(n) + body;
}

Track &Track::event(quint32 delta, std::initializer_list<int> bytes)
{
    for (int shift = 21; shift > 0; shift -= 7) {
        if (delta >> shift)
            body.append(char(0x80 | (delta >> shift & 0x7F)));
    }
    body.append(char(delta & 0x7F));
    for (const int b : bytes)
        body.append(char(b));
    return *this;
}

QByteArray oneNoteSong(int noteMs, int endMs)
{
    // 480 ticks per quarter at 500000 us per quarter: 0.96 ticks per millisecond.
    const auto ticks = [](int ms) { return std::uint32_t(ms * 480 / 500); };
    Track track;
    track.program(0, 0, 0).noteOn(0, 0, 60, 110).noteOff(ticks(noteMs), 0, 60);
    return header(0, 1, 480) + track.endOfTrack(ticks(endMs) - ticks(noteMs)).chunk();
}

static bool isBridge(std::span<const std::uint8_t> bytes)
{
    return bytes.size() == 2 && bytes[0] == 0xFF && bytes[1] == 0x01;
}

// Whether the two songs hold the same events and end, but for the empty text events the writer
// adds to bridge gaps longer than a delta time can hold.
static bool same(const Smf::Song &a, const Smf::Song &b)
{
    for (std::size_t i = 0, j = 0;; ++i, ++j) {
        while (i < a.events.size() && isBridge(a.bytes(a.events[i])))
            ++i;
        while (j < b.events.size() && isBridge(b.bytes(b.events[j])))
            ++j;
        if (i == a.events.size() || j == b.events.size())
            return i == a.events.size() && j == b.events.size() && a.endTick == b.endTick;
        if (a.events[i].tick != b.events[j].tick
            || !std::ranges::equal(a.bytes(a.events[i]), b.bytes(b.events[j])))
            return false;
    }
}

static bool inOrder(const Smf::Song &song)
{
    return std::ranges::is_sorted(song.events, {}, &Smf::Event::tick)
        && (song.events.empty() || song.events.back().tick <= song.endTick);
}

static bool noteLeftOn(const Smf::Song &song)
{
    std::bitset<16 * 128> sounding;
    for (const Smf::Event &event : song.events) {
        const std::span<const std::uint8_t> bytes = song.bytes(event);
        const int kind = bytes.empty() ? 0 : bytes[0] & 0xF0;
        if ((kind == 0x90 || kind == 0x80) && bytes.size() == 3)
            sounding[(bytes[0] & 0x0F) * 128 + bytes[1]] = kind == 0x90 && bytes[2] > 0;
    }
    return sounding.any();
}

QString songFault(std::span<const std::uint8_t> file)
{
    const Smf::ReadResult read = Smf::readSong(file);
    if (!read.error.empty())
        return read.song.events.empty() ? QString() : u"refused, yet has events"_s;
    const Smf::Song written = Smf::readSong(Smf::writeSong(read.song)).song;
    if (!inOrder(read.song) || written.division != read.song.division || !same(written, read.song))
        return u"out of order, or changed when written and read again"_s;
    const Smf::CanonicalSong canonical = Smf::canonicalSong(read.song);
    const Smf::Song &played = canonical.song;
    const Smf::Song again = Smf::readSong(Smf::writeSong(played)).song;
    if (canonical.error.empty()
        && (played.division != Smf::CanonicalDivision || !inOrder(played) || noteLeftOn(played)
            || played.endTick > Smf::MaxSongMilliseconds
            || !(std::abs(double(played.endTick) - canonical.endSeconds * 1000) <= 1)
            || !same(played, again) || !same(played, Smf::canonicalSong(again).song)))
        return u"the canonical form is wrong, or changes when written, read or made canonical"_s;
    return {};
}

} // namespace SmfBuilder
