#pragma once

#include "tests/support/files.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <span>

// A tiny Standard MIDI File writer for tests, whose chunks can carry true or lying lengths, and
// the properties every file read must have.
namespace SmfBuilder {

QByteArray header(int format, int tracks, int division);
// A chunk with its true length, or with the length given.
QByteArray chunk(const char *id, const QByteArray &body, std::int64_t length = -1);

// The events of one track; each event is a delta time and its bytes.
class Track
{
public:
    Track &event(quint32 delta, std::initializer_list<int> bytes);
    Track &noteOn(quint32 dt, int ch, int key, int v = 100)
    {
        return event(dt, { 0x90 | ch, key, v });
    }
    Track &noteOff(quint32 dt, int ch, int key) { return event(dt, { 0x80 | ch, key, 64 }); }
    Track &program(quint32 dt, int ch, int program) { return event(dt, { 0xC0 | ch, program }); }
    Track &tempo(quint32 dt, quint32 us)
    {
        return event(dt, { 0xFF, 0x51, 3, int(us >> 16), int(us >> 8 & 0xFF), int(us & 0xFF) });
    }
    Track &endOfTrack(quint32 dt = 0) { return event(dt, { 0xFF, 0x2F, 0 }); }
    // The MTrk chunk (End of Track is not added by itself).
    QByteArray chunk() const { return SmfBuilder::chunk("MTrk", body); }
    // A format 0 file of this track alone, by default at 500 ticks per quarter note: at the
    // default tempo, one tick is a millisecond.
    QByteArray song(int division = 500) const { return header(0, 1, division) + chunk(); }
    QByteArray body;
};

// A format 0 song at 480 ticks per quarter note and 120 beats per minute: one piano note of
// the given length in milliseconds from time 0, and End of Track at endMs.
QByteArray oneNoteSong(int noteMs, int endMs);

// Song files are written and read as any other test file.
inline constexpr auto &writeFile = TestFiles::write;
inline constexpr auto &readFile = TestFiles::read;
inline std::span<const std::uint8_t> span(const QByteArray &bytes)
{
    return { reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()) };
}

// What every file must satisfy, readable or not: a refused file leaves no events; a song that
// reads is in time order, and the writer writes it (bridging long gaps) so that it reads back
// the same; its canonical form, unless too long to play, is in time order, ends when the song
// ends, leaves no note sounding and stays the same when written, read and made canonical again.
// Returns what failed, or an empty text.
QString songFault(std::span<const std::uint8_t> file);

} // namespace SmfBuilder
