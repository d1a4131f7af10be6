#include "tests/support/smf_builder.h"

#include <QFile>

namespace SmfBuilder {

QByteArray vlq(std::uint32_t value)
{
    QByteArray out(1, char(value & 0x7F));
    while (value >>= 7)
        out.prepend(char(0x80 | (value & 0x7F)));
    return out;
}

static QByteArray be(std::uint32_t value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(value >> (8 * i) & 0xFF));
    return out;
}

QByteArray header(int format, int tracks, int division)
{
    return chunk("MThd", be(format, 2) + be(tracks, 2) + be(division, 2));
}

QByteArray chunk(const char *id, const QByteArray &body)
{
    return chunk(id, body, std::uint32_t(body.size()));
}

QByteArray chunk(const char *id, const QByteArray &body, std::uint32_t length)
{
    return QByteArray(id, 4) + be(length, 4) + body;
}

Track &Track::event(std::uint32_t delta, std::initializer_list<int> bytes)
{
    body += vlq(delta);
    for (const int b : bytes)
        body.append(char(b));
    return *this;
}

Track &Track::noteOn(std::uint32_t delta, int channel, int key, int velocity)
{
    return event(delta, { 0x90 | channel, key, velocity });
}

Track &Track::noteOff(std::uint32_t delta, int channel, int key)
{
    return event(delta, { 0x80 | channel, key, 64 });
}

Track &Track::program(std::uint32_t delta, int channel, int program)
{
    return event(delta, { 0xC0 | channel, program });
}

Track &Track::tempo(std::uint32_t delta, std::uint32_t microsPerQuarter)
{
    return event(delta,
        { 0xFF, 0x51, 3, int(microsPerQuarter >> 16 & 0xFF), int(microsPerQuarter >> 8 & 0xFF),
            int(microsPerQuarter & 0xFF) });
}

Track &Track::endOfTrack(std::uint32_t delta)
{
    return event(delta, { 0xFF, 0x2F, 0 });
}

QByteArray Track::chunk() const
{
    return SmfBuilder::chunk("MTrk", body);
}

QByteArray oneNoteSong(int noteMs, int endMs)
{
    // 480 ticks per quarter at 500000 us per quarter: 0.96 ticks per millisecond.
    const auto ticks = [](int ms) { return std::uint32_t(ms * 480 / 500); };
    Track track;
    track.program(0, 0, 0).noteOn(0, 0, 60, 110).noteOff(ticks(noteMs), 0, 60);
    track.endOfTrack(ticks(endMs) - ticks(noteMs));
    return header(0, 1, 480) + track.chunk();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace SmfBuilder
