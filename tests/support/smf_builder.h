#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <initializer_list>

// A tiny Standard MIDI File writer for tests: tracks are built event by event and chunks can
// carry true or lying lengths.
namespace SmfBuilder {

QByteArray vlq(std::uint32_t value);
QByteArray header(int format, int tracks, int division);
// A chunk with its true length, or with the length given.
QByteArray chunk(const char *id, const QByteArray &body);
QByteArray chunk(const char *id, const QByteArray &body, std::uint32_t length);

// The events of one track; each event is a delta time and its bytes.
class Track
{
public:
    Track &event(std::uint32_t delta, std::initializer_list<int> bytes);
    Track &noteOn(std::uint32_t delta, int channel, int key, int velocity = 100);
    Track &noteOff(std::uint32_t delta, int channel, int key);
    Track &program(std::uint32_t delta, int channel, int program);
    Track &tempo(std::uint32_t delta, std::uint32_t microsPerQuarter);
    Track &endOfTrack(std::uint32_t delta = 0);
    // The MTrk chunk (End of Track is not added by itself).
    QByteArray chunk() const;
    QByteArray body;
};

// A format 0 song at 480 ticks per quarter note and 120 beats per minute: one piano note of
// the given length in milliseconds from time 0, and End of Track at endMs.
QByteArray oneNoteSong(int noteMs, int endMs);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

} // namespace SmfBuilder
