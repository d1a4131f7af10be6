#include "midi/smf_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace Smf {

void Song::append(std::uint64_t tick, std::span<const std::uint8_t> bytes)
{
    const std::size_t offset = data.size();
    events.push_back(
        { tick, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(bytes.size()) });
    data.resize(offset + bytes.size());
    if (!bytes.empty())
        std::memcpy(data.data() + offset, bytes.data(), bytes.size());
}

namespace {

// Keeps every offset into Song::data within 32 bits.
constexpr std::size_t MaxFileSize = std::size_t(1) << 30;
constexpr std::uint32_t DefaultTempo = 500000;

std::uint32_t be32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t le32(const std::uint8_t *p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool hasId(std::span<const std::uint8_t> bytes, std::size_t at, const char *id)
{
    return bytes.size() - at >= 4 && std::memcmp(bytes.data() + at, id, 4) == 0;
}

// The MIDI data inside a RIFF RMID file, or the bytes unchanged when they are no RIFF file.
std::span<const std::uint8_t> unwrapRiff(std::span<const std::uint8_t> file)
{
    if (file.size() < 12 || !hasId(file, 0, "RIFF") || !hasId(file, 8, "RMID"))
        return file;
    std::size_t pos = 12;
    while (file.size() - pos >= 8) {
        const std::uint32_t length = le32(file.data() + pos + 4);
        if (length > file.size() - pos - 8)
            break;
        if (hasId(file, pos, "data"))
            return file.subspan(pos + 8, length);
        pos += 8 + length + (length & 1);
        if (pos > file.size())
            break;
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

        if (status == 0xFF) {
            if (m_chunk.size() - m_pos < 2)
                return Step::TrackEnd;
            const std::uint8_t type = m_chunk[m_pos + 1];
            m_pos += 2;
            std::uint32_t length = 0;
            if (const Step step = readBody(length, error); step != Step::Event)
                return step;
            m_tick = tick;
            if (type == 0x2F) {
                m_endTick = tick;
                return Step::TrackEnd;
            }
            std::vector<std::uint8_t> &data = m_song.data;
            m_song.events.push_back({ tick, static_cast<std::uint32_t>(data.size()), length + 2 });
            data.push_back(0xFF);
            data.push_back(type);
            data.insert(data.end(), m_chunk.begin() + m_pos, m_chunk.begin() + m_pos + length);
            m_pos += length;
            m_endTick = tick;
            return Step::Event;
        }
        if (status == 0xF0 || status == 0xF7) {
            ++m_pos;
            std::uint32_t length = 0;
            if (const Step step = readBody(length, error); step != Step::Event)
                return step;
            m_tick = tick;
            std::vector<std::uint8_t> &data = m_song.data;
            m_song.events.push_back({ tick, static_cast<std::uint32_t>(data.size()), length + 1 });
            data.push_back(status);
            data.insert(data.end(), m_chunk.begin() + m_pos, m_chunk.begin() + m_pos + length);
            m_pos += length;
            m_endTick = tick;
            return Step::Event;
        }
        if (status > 0xF0) {
            // System common and real-time messages have no place in a file: skip them with
            // their data bytes, keeping running status.
            ++m_pos;
            const int dataBytes = status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
            for (int i = 0; i < dataBytes && m_pos < m_chunk.size() && m_chunk[m_pos] < 0x80; ++i)
                ++m_pos;
            m_tick = tick;
            return Step::Event;
        }

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
    if (body.size() < 14 || !hasId(body, 0, "MThd"))
        return fail("the file has no MIDI header");
    const std::uint32_t headerLength = be32(body.data() + 4);
    if (headerLength < 6 || headerLength > body.size() - 8)
        return fail("the MIDI header is broken");

    Song &song = result.song;
    song.format = body[8] << 8 | body[9];
    song.division = static_cast<std::uint16_t>(body[12] << 8 | body[13]);
    if (song.division == 0 || (song.isSmpte() && (song.division & 0xFF) == 0))
        return fail("the division is 0");

    // Find the tracks first, so that a broken chunk anywhere refuses the file before any
    // parsing work.
    std::vector<std::span<const std::uint8_t>> tracks;
    std::size_t pos = 8 + std::size_t(headerLength);
    while (body.size() - pos >= 8) {
        const std::uint32_t length = be32(body.data() + pos + 4);
        if (length & 0x80000000u)
            return fail("a chunk length is negative");
        if (length > body.size() - pos - 8)
            return fail("a chunk length runs past the end of the file");
        if (hasId(body, pos, "MTrk"))
            tracks.push_back(body.subspan(pos + 8, length));
        pos += 8 + std::size_t(length);
    }
    if (tracks.empty())
        return fail("the file has no track");

    // No event takes more bytes in the song than in the file; most take three or four.
    song.data.reserve(body.size());
    song.events.reserve(body.size() / 4);
    const bool oneAfterAnother = song.format == 2;
    std::uint64_t start = 0;
    // Each track is in time order: merged run by run, in O(n log tracks).
    std::vector<std::size_t> runs { 0 };
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (oneAfterAnother && i > 0 && !song.isSmpte()) {
            // Each sequence starts at the default tempo unless it sets its own.
            const std::array<std::uint8_t, 5> tempo { 0xFF, 0x51, DefaultTempo >> 16 & 0xFF,
                DefaultTempo >> 8 & 0xFF, DefaultTempo & 0xFF };
            song.append(start, tempo);
        }
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
    runs.push_back(song.events.size());
    const auto earlier = [](const Event &a, const Event &b) { return a.tick < b.tick; };
    while (runs.size() > 2) {
        std::vector<std::size_t> merged { 0 };
        for (std::size_t r = 0; r + 1 < runs.size(); r += 2) {
            if (r + 2 < runs.size()) {
                std::inplace_merge(song.events.begin() + std::ptrdiff_t(runs[r]),
                    song.events.begin() + std::ptrdiff_t(runs[r + 1]),
                    song.events.begin() + std::ptrdiff_t(runs[r + 2]), earlier);
            }
            merged.push_back(runs[std::min(r + 2, runs.size() - 1)]);
        }
        runs = std::move(merged);
    }
    return result;
}

} // namespace Smf
