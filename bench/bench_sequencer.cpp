// Measures the sequencer device: open to first sound (cold and warm), CPU per second of music
// against FluidSynth's own command-line player, peak memory while playing the densest of the
// shared real songs (per-instrument and full sample loading, and FluidSynth's player), and the
// open of a large file. Run by hand: bench_sequencer [song.mid] (default for the CPU figures:
// the shared Clementi).

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "sequencer/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

double cpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString openCommand(const QString &path)
{
    return QStringLiteral("open ") + path + QStringLiteral(" type sequencer alias canyon");
}

using Loading = SequencerDevice::SampleLoading;

// Milliseconds from "open" to the first rendered sample that is not silent.
double openToFirstSound(SequencerDevice &device, const QString &song)
{
    QElapsedTimer timer;
    timer.start();
    if (device.sendCommand(openCommand(song), nullptr, 0) != 0
        || device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0)
        return -1;
    for (int block = 0; block < 1000; ++block) {
        const std::vector<float> samples = device.render(64);
        if (std::any_of(samples.begin(), samples.end(), [](float s) { return s != 0.0f; }))
            break;
    }
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);
    return elapsed;
}

// Plays the song offline to its end; returns the seconds of music rendered.
double playToEnd(SequencerDevice &device, const QString &song)
{
    if (device.sendCommand(openCommand(song), nullptr, 0) != 0
        || device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0)
        return -1;
    long frames = 0;
    QString mode = QStringLiteral("playing");
    while (mode == QStringLiteral("playing")) {
        device.render(1024);
        frames += 1024;
        device.sendCommand(QStringLiteral("status canyon mode"), &mode, 128);
    }
    device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);
    return double(frames) / SequencerDevice::SampleRate;
}

struct ChildUsage
{
    double cpu = -1;
    long maxRssKb = 0;
};

ChildUsage runChild(const std::vector<QByteArray> &arguments)
{
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ChildUsage usage;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage used {};
        if (wait4(pid, &status, 0, &used) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            usage.cpu = double(used.ru_utime.tv_sec + used.ru_stime.tv_sec)
                + double(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
            usage.maxRssKb = used.ru_maxrss;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return usage;
}

// The child of the memory measurement: plays one song to its end, as the program would.
int playOneSong(const char *song, Loading loading)
{
    SequencerDevice device(SequencerDevice::Output::Offline, loading);
    return playToEnd(device, QString::fromLocal8Bit(song)) >= 0 ? 0 : 1;
}

// The shared real song with the most notes per second (of those lasting 10 s or more).
QString densestRealSong()
{
    const QDir dir(QStringLiteral(QUAVREL_SHARED_DIR "/midi/real"));
    QString densest;
    double most = 0;
    for (const QString &name : dir.entryList({ QStringLiteral("*.mid") }, QDir::Files)) {
        const QByteArray bytes = SmfBuilder::readFile(dir.filePath(name));
        const Smf::ReadResult read
            = Smf::readSong({ reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                std::size_t(bytes.size()) });
        const double seconds = Smf::canonicalSong(read.song).endSeconds;
        if (!read.error.empty() || seconds < 10)
            continue;
        long notes = 0;
        for (const Smf::Event &event : read.song.events) {
            const auto message = read.song.bytes(event);
            notes += message.size() == 3 && (message[0] & 0xF0) == 0x90 && message[2] > 0;
        }
        if (notes / seconds > most) {
            most = notes / seconds;
            densest = dir.filePath(name);
        }
    }
    std::printf("densest real song: %s, %.1f notes per second\n",
        qPrintable(QFileInfo(densest).fileName()), most);
    return densest;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--play")
        return playOneSong(
            argv[3], QByteArray(argv[2]) == "full" ? Loading::Full : Loading::Dynamic);

    const QString song = argc > 1
        ? QString::fromLocal8Bit(argv[1])
        : QStringLiteral(QUAVREL_SHARED_DIR "/midi/real/midly__Clementi.mid");
    const QString soundFont = SequencerDevice::soundFontPath();
    if (soundFont.isEmpty() || !QFileInfo::exists(song)) {
        std::fprintf(stderr, "need a SoundFont and the song %s\n", qPrintable(song));
        return 1;
    }
    QTemporaryDir dir;
    const QString note = dir.filePath(QStringLiteral("note.mid"));
    SmfBuilder::writeFile(note, SmfBuilder::oneNoteSong(500, 500));
    std::printf("SoundFont %s\nsong %s\n\n", qPrintable(soundFont), qPrintable(song));

    // (c) Peak memory of a process playing the densest real song, and the one with every
    // instrument, against fluidsynth's. Measured first: a child's peak counts the parent's
    // memory at the time it was started.
    const QString fluidsynth = QStandardPaths::findExecutable(QStringLiteral("fluidsynth"));
    const QByteArray wav = QFile::encodeName(dir.filePath(QStringLiteral("out.wav")));
    const auto fluidsynthRender = [&](const QString &midi) {
        return runChild({ QFile::encodeName(fluidsynth), "-ni", "-F", wav,
            QFile::encodeName(soundFont), QFile::encodeName(midi) });
    };
    const auto quavrelPeak = [&](const QString &midi, const char *loading) {
        return runChild({ QFile::encodeName(QString::fromLocal8Bit(argv[0])), "--play", loading,
                            QFile::encodeName(midi) })
                   .maxRssKb
            / 1024.0;
    };
    const QString densest = densestRealSong();
    const QString allSounds
        = QStringLiteral(QUAVREL_SHARED_DIR "/midi/real/jazz-soft__test-all-gm-sounds.mid");
    for (const QString &midi : { densest, allSounds }) {
        if (!QFileInfo::exists(midi))
            continue;
        std::printf("peak memory playing %s\n", qPrintable(QFileInfo(midi).fileName()));
        std::printf("%-52s %10.1f MB\n", "  Quavrel, samples per instrument (target < 70)",
            quavrelPeak(midi, "dynamic"));
        std::printf("%-52s %10.1f MB\n", "  Quavrel, whole SoundFont", quavrelPeak(midi, "full"));
        if (!fluidsynth.isEmpty()) {
            std::printf("%-52s %10.1f MB\n", "  fluidsynth -ni -F",
                fluidsynthRender(midi).maxRssKb / 1024.0);
        }
    }
    std::printf("\n");

    // (a) Open to first sound: cold with a new device (SoundFont load, and the loading of the
    // song's instruments, included), then warm. "open" and "play" follow each other at once
    // when Play is pressed, so this is also the time from Play to the first sound.
    for (const Loading loading : { Loading::Dynamic, Loading::Full }) {
        std::vector<double> cold;
        std::vector<double> warm;
        for (int run = 0; run < 5; ++run) {
            SequencerDevice device(SequencerDevice::Output::Offline, loading);
            cold.push_back(openToFirstSound(device, note));
            for (int again = 0; again < 4; ++again)
                warm.push_back(openToFirstSound(device, note));
        }
        const char *name = loading == Loading::Dynamic ? "per instrument" : "whole SoundFont";
        std::printf("open to first sound, %s\n", name);
        std::printf("%-52s %10.2f ms\n", "  SoundFont not loaded (median of 5, target < 100)",
            median(cold));
        std::printf("%-52s %10.2f ms\n", "  SoundFont loaded (median of 20)", median(warm));
    }

    // (b) CPU per second of music, rendered offline, against fluidsynth -ni -F.
    SequencerDevice device(SequencerDevice::Output::Offline);
    openToFirstSound(device, note); // loads the SoundFont outside the measurement
    std::vector<double> ours;
    double seconds = 0;
    for (int run = 0; run < 3; ++run) {
        const double start = cpuSeconds();
        seconds = playToEnd(device, song);
        ours.push_back((cpuSeconds() - start) / seconds);
    }
    std::printf("%-52s %10.2f s\n", "song length as played", seconds);
    std::printf("%-52s %10.4f s\n", "CPU per second of music, Quavrel (median of 3)", median(ours));

    if (fluidsynth.isEmpty()) {
        std::printf("fluidsynth not installed: no comparison\n");
    } else {
        std::vector<double> theirs;
        std::vector<double> loads;
        double rendered = 0;
        for (int run = 0; run < 3; ++run) {
            loads.push_back(fluidsynthRender(note).cpu);
            const ChildUsage usage = fluidsynthRender(song);
            // 16-bit stereo after a 44-byte header.
            rendered = double(QFileInfo(QString::fromLocal8Bit(wav)).size() - 44) / (4.0 * 44100);
            theirs.push_back(usage.cpu);
        }
        // The SoundFont load is taken off, measured with a one-note song.
        const double theirPerSecond = (median(theirs) - median(loads)) / rendered;
        std::printf(
            "%-52s %10.4f s\n", "CPU per second of music, fluidsynth -ni -F", theirPerSecond);
        std::printf("%-52s %10.2f s\n", "  (its rendering, with release tail and grace)", rendered);
        std::printf(
            "%-52s %10.2f\n", "CPU ratio Quavrel / fluidsynth", median(ours) / theirPerSecond);
    }

    // (d) A valid file of 8 MB with a million notes: the open command, which returns at once,
    // and the worker's read of it up to the first block (where FluidSynth takes its copy in).
    QByteArray big = SmfBuilder::header(1, 16, 480);
    for (int t = 0; t < 16; ++t) {
        QByteArray body;
        for (int i = 0; i < 62500; ++i) {
            const char key = char(36 + (i + t) % 60);
            body.append(char(1)).append(char(0x90 | t)).append(key).append(char(90));
            body.append(char(1)).append(char(0x80 | t)).append(key).append(char(0));
        }
        big += SmfBuilder::chunk("MTrk", body + QByteArray::fromHex("00ff2f00"));
    }
    const QString bigPath = dir.filePath(QStringLiteral("million notes.mid"));
    SmfBuilder::writeFile(bigPath, big);
    QElapsedTimer timer;
    timer.start();
    const std::uint32_t opened = device.sendCommand(openCommand(bigPath), nullptr, 0);
    const double openMs = double(timer.nsecsElapsed()) / 1e6;
    device.sendCommand(QStringLiteral("play canyon"), nullptr, 0);
    device.finishWork();
    const double workerMs = double(timer.nsecsElapsed()) / 1e6;
    device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);
    std::printf("%-52s %10.1f ms (result %u, %.1f MB)\n", "open command of 1,000,000 notes", openMs,
        opened, big.size() / 1e6);
    std::printf(
        "%-52s %10.1f ms\n", "  until the worker has read it and FluidSynth loaded it", workerMs);
    return 0;
}
