// Large songs: writes generated "black MIDI" songs, measures their open in the device, and times
// the running program's answers on the session bus while it opens one. bench/large_songs.sh runs
// it beside the real program and FluidSynth's own.
//
//   bench_large_song write NOTES FILE   a valid song of NOTES short notes on 16 channels
//   bench_large_song open FILE          the device, offline, with its SoundFont loaded: the open
//                                       command, the worker's read and load, the first sound, and
//                                       peak memory (VmHWM) before and after; then the worker's
//                                       steps before FluidSynth's, timed alone
//   bench_large_song probe SECONDS      calls Get PlaybackStatus on Quavrel's media player every
//                                       20 ms; prints the calls, those that failed, their median
//                                       and longest time (ms), the moment of the longest from the
//                                       start, and the calls that answered "Playing"

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "sequencer/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double msSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// The process's peak resident memory in MB.
double peakMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

// Format 1, 16 tracks of one channel each, every channel its own instrument: notes of one tick
// (480 ticks per quarter note), one after another, 8 bytes a note. About 7,700 notes a second.
int writeSong(long notes, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(SmfBuilder::header(1, 16, 480));
    for (int track = 0; track < 16; ++track) {
        QByteArray body;
        const long count = notes / 16 + (track < notes % 16);
        body.reserve(qsizetype(count) * 8 + 8);
        body.append(char(0)).append(char(0xC0 | track)).append(char(track * 8));
        for (long i = 0; i < count; ++i) {
            const char key = char(36 + (i * 7 + track) % 60);
            body.append(char(1)).append(char(0x90 | track)).append(key).append(char(64 + i % 60));
            body.append(char(1)).append(char(0x80 | track)).append(key).append(char(0));
        }
        file.write(SmfBuilder::chunk("MTrk", body + QByteArray::fromHex("00ff2f00")));
    }
    return file.error() == QFileDevice::NoError ? 0 : 1;
}

int openSong(const QString &path)
{
    SequencerDevice device(SequencerDevice::Output::Offline);
    device.prepare();
    device.finishWork();
    const double before = peakMb();
    QElapsedTimer timer;
    timer.start();
    const std::uint32_t result = device.sendCommand(
        QStringLiteral("open \"%1\" type sequencer alias canyon").arg(path), nullptr, 0);
    const double command = msSince(timer);
    device.sendCommand(QStringLiteral("play canyon"), nullptr, 0);
    device.finishWork();
    const double worker = msSince(timer);
    double sound = -1;
    for (int block = 0; block < 10000 && sound < 0; ++block) {
        const std::vector<float> samples = device.render(64);
        if (std::any_of(samples.begin(), samples.end(), [](float s) { return s != 0.0f; }))
            sound = msSince(timer);
    }
    std::printf("result %u, open command %.2f ms, read and loaded on the worker %.1f ms, first "
                "sound %.1f ms, peak memory %.1f MB before, %.1f MB after",
        result, command, worker, sound, before, peakMb());
    device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);

    // The worker's own steps before FluidSynth reads its copy, again, one by one.
    timer.restart();
    const QByteArray bytes = SmfBuilder::readFile(path);
    Smf::ReadResult read = Smf::readSong(SmfBuilder::span(bytes));
    const double reading = msSince(timer);
    timer.restart();
    const Smf::CanonicalSong canonical = Smf::canonicalSong(read.song);
    read = {};
    const double canonicalMs = msSince(timer);
    timer.restart();
    const std::size_t written = Smf::writeSong(canonical.song).size();
    std::printf("; of it: read %.1f ms, canonical form %.1f ms, written %.1f ms (%.1f MB)\n",
        reading, canonicalMs, msSince(timer), double(written) / 1e6);
    return result == 0 ? 0 : 1;
}

int probe(double seconds)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.mpris.MediaPlayer2.quavrel"), QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("PlaybackStatus");
    const QDBusConnection bus = QDBusConnection::sessionBus();
    std::vector<double> times;
    double longest = 0;
    double longestAt = 0;
    int failed = 0;
    int playing = 0;
    QElapsedTimer clock;
    clock.start();
    for (double due = 0; due < seconds * 1000; due += 20) {
        // A call that took long is followed by the next at once.
        const double wait = due - msSince(clock);
        if (wait > 0)
            QThread::usleep(static_cast<unsigned long>(wait * 1000));
        const double start = msSince(clock);
        const QDBusMessage reply = bus.call(get, QDBus::Block, 60000);
        failed += reply.type() != QDBusMessage::ReplyMessage;
        playing += reply.arguments().value(0).value<QDBusVariant>().variant().toString()
            == QLatin1StringView("Playing");
        times.push_back(msSince(clock) - start);
        if (times.back() > longest) {
            longest = times.back();
            longestAt = start;
        }
        due = std::max(due, msSince(clock) - 20);
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%zu %d %.2f %.2f %.0f %d\n", times.size(), failed, sorted[sorted.size() / 2],
        longest, longestAt, playing);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 2 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "write" && argc == 4)
        return writeSong(QByteArray(argv[2]).toLong(), QString::fromLocal8Bit(argv[3]));
    if (mode == "open")
        return openSong(QString::fromLocal8Bit(argv[2]));
    if (mode == "probe")
        return probe(QByteArray(argv[2]).toDouble());
    std::fprintf(stderr, "usage: bench_large_song write NOTES FILE | open FILE | probe SECONDS\n");
    return 2;
}
