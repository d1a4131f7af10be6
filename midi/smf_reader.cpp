#include "midi/smf_reader.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace Smf {

namespace {

// Keeps every offset into Song::data within 32 bits.
constexpr std::size_t MaxFileSize = std::size_t(1) << 30;

std::uint32_t be32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t le32(const std::uint8_t *p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool hasId(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view id)
{
    return at + id.size() <= bytes.size() && std::ranges::equal(bytes.subspan(at, id.size()), id);
}

// The MIDI data inside a RIFF RMID file, or the bytes unchanged when they are no RIFF file.
// A position passes the file's end by at most a missing pad byte, so no sum here overflows.
std::span<const std::uint8_t> unwrapRiff(std::span<const std::uint8_t> file)
{
    if (!hasId(file, 0, "RIFF") || !hasId(file, 8, "RMID"))
        return file;
    // Each chunk's data is padded to an even length; the pad of the last may be missing.
    for (std::size_t pos = 12; pos + 8 <= file.size();) {
        const std::uint32_t length = le32(file.data() + pos + 4);
        if (length > file.size() - pos - 8)
            break;
        if (hasId(file, pos, "data"))
            return file.subspan(pos + 8, length);
        pos += 8 + length + (length & 1);
    }
    return file;
}

enum class Step { Event, TrackEnd, Broken };

// Parses the events of one MTrk chunk into the song.
class TrackReader
{
public:
    TrackReader(std::span<const std::uint8_t> chunk, std::uint64_t startTick, Song &song)
        : m_chunk(chunk)
        , m_tick(startTick)
        , m_endTick(startTick)
        , m_song(song)
    { }

    // Reads to End of Track or the chunk's end; false (with error set) on broken structure.
    bool read(std::string &error)
    {
        for (;;) {
            switch (next(error)) {
            case Step::Event:
                break;
            case Step::TrackEnd:
                return true;
            case Step::Broken:
                return false;
            }
        }
    }

    std::uint64_t endTick() const { return m_endTick; }

private:
    // A variable-length number: read, cut short by the chunk's end, or longer than allowed.
    enum class Vlq { Ok, Cut, TooLong };
    Vlq readVlq(std::uint32_t &value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (m_pos >= m_chunk.size())
                return Vlq::Cut;
            const std::uint8_t b = m_chunk[m_pos++];
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80))
                return Vlq::Ok;
        }
        return Vlq::TooLong;
    }

    // A variable-length number at m_pos: cut off by the chunk's end, the track ends there (it
    // may lack End of Track); longer than four bytes, the file is broken.
    Step readNumber(std::uint32_t &value, std::string &error)
    {
        switch (readVlq(value)) {
        case Vlq::Cut:
            return Step::TrackEnd;
        case Vlq::TooLong:
            error = "a variable-length number is longer than four bytes";
            return Step::Broken;
        case Vlq::Ok:
            break;
        }
        return Step::Event;
    }

    // A length-prefixed body (meta or SysEx data) starting at m_pos.
    Step readBody(std::uint32_t &length, std::string &error)
    {
        if (const Step step = readNumber(length, error); step != Step::Event)
            return step;
        if (length > m_chunk.size() - m_pos) {
            error = "an event's length runs past the end of its track";
            return Step::Broken;
        }
        return Step::Event;
    }

    Step next(std::string &error)
    {
        std::uint32_t delta = 0;
        if (const Step step = readNumber(delta, error); step != Step::Event)
            return step;
        if (m_pos >= m_chunk.size())
            return Step::TrackEnd;
        const std::uint64_t tick = m_tick + delta;
        const std::uint8_t status = m_chunk[m_pos];
        if (status == 0xFF)
            return readMeta(tick, error);
        if (status == 0xF0 || status == 0xF7)
            return readSysEx(tick, status, error);
        if (status > 0xF0)
            return skipSystemMessage(tick, status);
        return readChannelMessage(tick, status, error);
    }

    // FF, type, length, data. End of Track ends the track; any other meta event is kept.
    Step readMeta(std::uint64_t tick, std::string &error)
    {
        if (m_chunk.size() - m_pos < 2)
            return Step::TrackEnd;
        const std::array<std::uint8_t, 2> prefix { 0xFF, m_chunk[m_pos + 1] };
        m_pos += 2;
        std::uint32_t length = 0;
        if (const Step step = readBody(length, error); step != Step::Event)
            return step;
        m_tick = tick;
        m_endTick = tick;
        if (prefix[1] == 0x2F)
            return Step::TrackEnd;
        m_song.append(tick, m_chunk.subspan(m_pos, length), prefix);
        m_pos += length;
        return Step::Event;
    }

    // F0 or F7, length, data.
    Step readSysEx(std::uint64_t tick, std::uint8_t status, std::string &error)
    {
        ++m_pos;
        std::uint32_t length = 0;
        if (const Step step = readBody(length, error); step != Step::Event)
            return step;
        m_tick = tick;
        m_endTick = tick;
        m_song.append(tick, m_chunk.subspan(m_pos, length), std::span(&status, 1));
        m_pos += length;
        return Step::Event;
    }

    // System common and real-time messages have no place in a file: skipped with their data
    // bytes, keeping running status.
    Step skipSystemMessage(std::uint64_t tick, std::uint8_t status)
    {
        ++m_pos;
        const int dataBytes = status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
        for (int i = 0; i < dataBytes && m_pos < m_chunk.size() && m_chunk[m_pos] < 0x80; ++i)
            ++m_pos;
        m_tick = tick;
        return Step::Event;
    }

    // A channel message, with its own status byte or the running one; data bytes above 127
    // are clamped.
    Step readChannelMessage(std::uint64_t tick, std::uint8_t status, std::string &error)
    {
        std::uint8_t running = m_running;
        if (status & 0x80) {
            running = status;
            ++m_pos;
        } else if (!running) {
            error = "a data byte has no status byte before it";
            return Step::Broken;
        }
        const std::size_t dataBytes = (running & 0xE0) == 0xC0 ? 1 : 2;
        if (m_chunk.size() - m_pos < dataBytes)
            return Step::TrackEnd; // the chunk ends inside the message
        std::array<std::uint8_t, 3> message { running, 0, 0 };
        for (std::size_t i = 0; i < dataBytes; ++i)
            message[i + 1] = std::min<std::uint8_t>(m_chunk[m_pos + i], 0x7F);
        m_pos += dataBytes;
        m_running = running;
        m_tick = tick;
        m_endTick = tick;
        m_song.append(tick, std::span(message.data(), dataBytes + 1));
        return Step::Event;
    }

    std::span<const std::uint8_t> m_chunk;
    std::size_t m_pos = 0;
    std::uint64_t m_tick;
    std::uint64_t m_endTick;
    std::uint8_t m_running = 0;
    Song &m_song;
};

// The header's format and division; false when there is no usable header.
bool readHeader(
    std::span<const std::uint8_t> body, Song &song, std::size_t &end, std::string &error)
{
    if (body.size() < 14 || !hasId(body, 0, "MThd")) {
        error = "the file has no MIDI header";
        return false;
    }
    const std::uint32_t headerLength = be32(body.data() + 4);
    if (headerLength < 6 || headerLength > body.size() - 8) {
        error = "the MIDI header is broken";
        return false;
    }
    song.format = body[8] << 8 | body[9];
    song.division = static_cast<std::uint16_t>(body[12] << 8 | body[13]);
    if (song.division == 0 || (song.isSmpte() && (song.division & 0xFF) == 0)) {
        error = "the division is 0";
        return false;
    }
    end = 8 + std::size_t(headerLength);
    return true;
}

// Every MTrk chunk after the header. The whole chunk list is checked first, so that a broken
// chunk anywhere refuses the file before any parsing work.
bool findTracks(std::span<const std::uint8_t> body, std::size_t pos,
    std::vector<std::span<const std::uint8_t>> &tracks, std::string &error)
{
    while (body.size() - pos >= 8) {
        const std::uint32_t length = be32(body.data() + pos + 4);
        if (length > body.size() - pos - 8) {
            error = "a chunk length runs past the end of the file";
            return false;
        }
        if (hasId(body, pos, "MTrk"))
            tracks.push_back(body.subspan(pos + 8, length));
        pos += 8 + std::size_t(length);
    }
    if (tracks.empty()) {
        error = "the file has no track";
        return false;
    }
    return true;
}

// Merges the song's events, which are in time order within each run that starts at runs[i],
// pairwise in O(n log runs); at equal times the earlier run comes first.
void mergeRuns(std::vector<Event> &events, std::vector<std::size_t> runs)
{
    runs.push_back(events.size());
    const auto earlier = [](const Event &a, const Event &b) { return a.tick < b.tick; };
    while (runs.size() > 2) {
        std::vector<std::size_t> merged { 0 };
        for (std::size_t r = 0; r + 1 < runs.size(); r += 2) {
            if (r + 2 < runs.size()) {
                std::inplace_merge(events.begin() + std::ptrdiff_t(runs[r]),
                    events.begin() + std::ptrdiff_t(runs[r + 1]),
                    events.begin() + std::ptrdiff_t(runs[r + 2]), earlier);
            }
            merged.push_back(runs[std::min(r + 2, runs.size() - 1)]);
        }
        runs = std::move(merged);
    }
}

} // namespace

ReadResult readSong(std::span<const std::uint8_t> file)
{
    ReadResult result;
    const auto fail = [&result](std::string text) {
        result.song = Song();
        result.error = std::move(text);
        return result;
    };
    if (file.size() > MaxFileSize)
        return fail("the file is too large for a song");
    const std::span<const std::uint8_t> body = unwrapRiff(file);
    Song &song = result.song;
    std::size_t chunks = 0;
    std::vector<std::span<const std::uint8_t>> tracks;
    if (std::string error;
        !readHeader(body, song, chunks, error) || !findTracks(body, chunks, tracks, error))
        return fail(std::move(error));

    // No event takes more bytes in the song than in the file; most take three or four.
    song.data.reserve(body.size());
    song.events.reserve(body.size() / 4);
    const bool oneAfterAnother = song.format == 2;
    std::uint64_t start = 0;
    std::vector<std::size_t> runs { 0 };
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        // Each sequence of a format 2 file starts at the default tempo unless it sets its own.
        if (oneAfterAnother && i > 0 && !song.isSmpte())
            song.append(start, tempoEvent(DefaultTempo));
        const std::size_t firstEvent = song.events.size();
        TrackReader reader(tracks[i], oneAfterAnother ? start : 0, song);
        if (std::string error; !reader.read(error))
            return fail(std::move(error));
        if (firstEvent > 0 && firstEvent < song.events.size()
            && song.events[firstEvent].tick < song.events[firstEvent - 1].tick)
            runs.push_back(firstEvent);
        song.endTick = std::max(song.endTick, reader.endTick());
        if (oneAfterAnother)
            start = reader.endTick();
    }
    mergeRuns(song.events, std::move(runs));
    return result;
}

} // namespace Smf
