#include "midi/smf_canonical.h"

#include <array>
#include <bitset>
#include <cmath>

namespace Smf {

namespace {

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
    explicit Clock(const Song &song)
    {
        const std::uint16_t division = song.division;
        if (song.isSmpte()) {
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

// Notes still sounding at the song's end, by channel * 128 + key.
using Sounding = std::bitset<16 * 128>;

// Switches off at the song's end every note still sounding, so that the player comes to its end.
void switchOff(const Sounding &sounding, Song &song)
{
    for (std::size_t key = 0; key < sounding.size(); ++key) {
        if (!sounding[key])
            continue;
        const std::array<std::uint8_t, 3> off { static_cast<std::uint8_t>(0x80 | key / 128),
            static_cast<std::uint8_t>(key % 128), 0 };
        song.append(song.endTick, off);
    }
}

} // namespace

CanonicalSong canonicalSong(const Song &song)
{
    CanonicalSong result;
    Song &out = result.song;
    out.format = 0;
    out.division = CanonicalDivision;
    out.data.reserve(song.data.size() + 8);
    out.events.reserve(song.events.size() + 1);
    out.append(0, tempoEvent(DefaultTempo));

    Clock clock(song);
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

    Sounding sounding;
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
    switchOff(sounding, out);
    result.endSeconds = endMicros / 1e6;
    return result;
}

} // namespace Smf
