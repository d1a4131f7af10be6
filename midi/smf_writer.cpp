#include "midi/smf_writer.h"

#include <array>
#include <bitset>
#include <cmath>

namespace Smf {

namespace {

constexpr std::uint32_t MaxDelta = 0x0FFFFFFF;
constexpr std::uint32_t DefaultTempo = 500000;

void putVlq(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    std::array<std::uint8_t, 4> groups {};
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value && count < 4);
    while (count > 1)
        out.push_back(groups[--count] | 0x80);
    out.push_back(groups[0]);
}

void put32(std::vector<std::uint8_t> &out, std::size_t at, std::uint32_t value)
{
    out[at] = value >> 24 & 0xFF;
    out[at + 1] = value >> 16 & 0xFF;
    out[at + 2] = value >> 8 & 0xFF;
    out[at + 3] = value & 0xFF;
}

// Writes the delta time from last to tick, bridging gaps longer than a delta can hold.
void putDelta(std::vector<std::uint8_t> &out, std::uint64_t &last, std::uint64_t tick)
{
    while (tick - last > MaxDelta) {
        putVlq(out, MaxDelta);
        out.insert(out.end(), { 0xFF, 0x01, 0x00 });
        last += MaxDelta;
    }
    putVlq(out, static_cast<std::uint32_t>(tick - last));
    last = tick;
}

bool isCompleteSysEx(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2 || bytes.front() != 0xF0 || bytes.back() != 0xF7)
        return false;
    for (std::size_t i = 1; i + 1 < bytes.size(); ++i) {
        if (bytes[i] & 0x80)
            return false;
    }
    return true;
}

// Event times in microseconds from the tempo map (or the SMPTE rate), in song order.
class Clock
{
public:
    explicit Clock(std::uint16_t division)
    {
        if (division & 0x8000) {
            const int rate = -static_cast<std::int8_t>(division >> 8);
            const double framesPerSecond = rate == 29 ? 30000.0 / 1001.0 : rate;
            m_microsPerTick = 1e6 / (framesPerSecond * (division & 0xFF));
            m_smpte = true;
        } else {
            m_division = division;
            m_microsPerTick = double(DefaultTempo) / division;
        }
    }

    double micros(std::uint64_t tick) const
    {
        return m_baseMicros + double(tick - m_baseTick) * m_microsPerTick;
    }

    // A tempo event at tick: later ticks run at the new tempo. Tempo 0 is ignored.
    void setTempo(std::uint64_t tick, std::span<const std::uint8_t> meta)
    {
        if (m_smpte || meta.size() < 5)
            return;
        const std::uint32_t tempo
            = std::uint32_t(meta[2]) << 16 | std::uint32_t(meta[3]) << 8 | meta[4];
        if (tempo == 0)
            return;
        m_baseMicros = micros(tick);
        m_baseTick = tick;
        m_microsPerTick = double(tempo) / m_division;
    }

private:
    bool m_smpte = false;
    std::uint16_t m_division = 1;
    double m_microsPerTick = 0;
    double m_baseMicros = 0;
    std::uint64_t m_baseTick = 0;
};

} // namespace

std::vector<std::uint8_t> writeSong(const Song &song)
{
    std::vector<std::uint8_t> out { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
        static_cast<std::uint8_t>(song.division >> 8),
        static_cast<std::uint8_t>(song.division & 0xFF), 'M', 'T', 'r', 'k', 0, 0, 0, 0 };
    out.reserve(out.size() + song.data.size() + 2 * song.events.size() + 8);
    const std::size_t trackStart = out.size();
    std::uint64_t last = 0;
    for (const Event &event : song.events) {
        const std::span<const std::uint8_t> bytes = song.bytes(event);
        putDelta(out, last, event.tick);
        if (bytes.empty())
            continue;
        if (bytes[0] == 0xFF && bytes.size() >= 2) {
            out.insert(out.end(), bytes.begin(), bytes.begin() + 2);
            putVlq(out, static_cast<std::uint32_t>(bytes.size() - 2));
            out.insert(out.end(), bytes.begin() + 2, bytes.end());
        } else if (bytes[0] == 0xF0 || bytes[0] == 0xF7) {
            out.push_back(bytes[0]);
            putVlq(out, static_cast<std::uint32_t>(bytes.size() - 1));
            out.insert(out.end(), bytes.begin() + 1, bytes.end());
        } else {
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
    }
    putDelta(out, last, std::max(song.endTick, last));
    out.insert(out.end(), { 0xFF, 0x2F, 0x00 });
    put32(out, trackStart - 4, static_cast<std::uint32_t>(out.size() - trackStart));
    return out;
}

CanonicalSong canonicalSong(const Song &song)
{
    CanonicalSong result;
    Song &out = result.song;
    out.format = 0;
    out.division = CanonicalDivision;
    out.data.reserve(song.data.size() + 8);
    out.events.reserve(song.events.size() + 1);
    const std::array<std::uint8_t, 5> tempo { 0xFF, 0x51, DefaultTempo >> 16 & 0xFF,
        DefaultTempo >> 8 & 0xFF, DefaultTempo & 0xFF };
    out.append(0, tempo);

    Clock clock(song.division);
    // Times are checked before they become integers: no song time can overflow one.
    bool tooLong = false;
    const auto toMilliseconds = [&tooLong](double micros) -> std::uint64_t {
        const double milliseconds = std::round(micros / 1000.0);
        if (!(milliseconds <= double(MaxSongMilliseconds))) {
            tooLong = true;
            return 0;
        }
        return static_cast<std::uint64_t>(milliseconds);
    };

    std::bitset<16 * 128> sounding;
    for (const Event &event : song.events) {
        const std::span<const std::uint8_t> bytes = song.bytes(event);
        const std::uint8_t status = bytes.empty() ? 0 : bytes[0];
        if (status == 0xFF) {
            if (bytes.size() >= 2 && bytes[1] == 0x51)
                clock.setTempo(event.tick, bytes);
            continue;
        }
        if (status < 0x80 || (status >= 0xF0 && !isCompleteSysEx(bytes)))
            continue;
        out.append(toMilliseconds(clock.micros(event.tick)), bytes);
        const std::uint8_t kind = status & 0xF0;
        if ((kind == 0x90 || kind == 0x80) && bytes.size() == 3)
            sounding[(status & 0x0F) * 128 + bytes[1]] = kind == 0x90 && bytes[2] > 0;
    }

    const double endMicros = clock.micros(song.endTick);
    out.endTick = toMilliseconds(endMicros);
    if (tooLong) {
        result.song = Song();
        result.error = "the song is too long to play";
        return result;
    }
    if (!out.events.empty())
        out.endTick = std::max(out.endTick, out.events.back().tick);
    for (std::size_t key = 0; key < sounding.size(); ++key) {
        if (!sounding[key])
            continue;
        const std::array<std::uint8_t, 3> off { static_cast<std::uint8_t>(0x80 | key / 128),
            static_cast<std::uint8_t>(key % 128), 0 };
        out.append(out.endTick, off);
    }
    result.endSeconds = endMicros / 1e6;
    return result;
}

} // namespace Smf
