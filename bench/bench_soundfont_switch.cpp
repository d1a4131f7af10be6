// What choosing another SoundFont costs: the "set canyon soundfont" command on the thread that
// sends it (the window's), the time until the new SoundFont is in use (on the device's worker),
// and resident memory after a song with it, against a start with that SoundFont; chosen while
// idle and while a song plays. Every figure comes from a fresh process, the median of five.
// Target: memory after a switch within 5 MB of a start with the new SoundFont.
// Run by hand: bench_soundfont_switch [from.sf2 to.sf2] (default: FluidR3_GM and TimGM6mb both
// ways).

#include "bench/process_memory.h"
#include "sequencer/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::uint32_t send(SequencerDevice &device, const QString &command, QString *reply = nullptr)
{
    return device.sendCommand(command, reply, reply ? 4096 : 0);
}

// A piano, strings, a bass and the drum kit for two seconds.
QByteArray song()
{
    SmfBuilder::Track track;
    track.program(0, 0, 0).program(0, 1, 48).program(0, 2, 33);
    for (int beat = 0; beat < 8; ++beat) {
        for (int channel = 0; channel < 3; ++channel)
            track.noteOn(0, channel, 48 + 12 * channel + beat % 5);
        track.noteOn(0, 9, beat % 2 ? 38 : 36).event(250, { 0xB0, 123, 0 });
        for (int channel = 1; channel < 3; ++channel)
            track.event(0, { 0xB0 | channel, 123, 0 });
        track.event(0, { 0xB9, 123, 0 });
    }
    return track.endOfTrack().song();
}

// Renders the open song, to its end or for that many frames.
void render(SequencerDevice &device, int frames = 1 << 30)
{
    QString mode = QStringLiteral("playing");
    for (int rendered = 0; mode == QStringLiteral("playing") && rendered < frames;
         rendered += 1024) {
        device.render(1024);
        send(device, QStringLiteral("status canyon mode"), &mode);
    }
}

bool play(SequencerDevice &device, const QString &path, int frames = 1 << 30)
{
    if (send(device, QStringLiteral("open %1 type sequencer alias canyon").arg(path)) != 0
        || send(device, QStringLiteral("play canyon")) != 0)
        return false;
    render(device, frames);
    return true;
}

// One measure in this process: "start to", "idle from to" or "playing from to". Prints the
// microseconds of the set command, the milliseconds until the SoundFont is in use, and the
// resident megabytes after a song played with it to its end.
int measure(const QStringList &arguments)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mid"));
    if (!SmfBuilder::writeFile(path, song()))
        return 1;
    SequencerDevice device(SequencerDevice::Output::Offline);
    send(device, QStringLiteral("set canyon soundfont ") + arguments.at(1));
    double commandUs = 0, readyMs = 0;
    if (arguments.size() > 2) {
        const bool playing = arguments.at(0) == QStringLiteral("playing");
        if (!play(device, path, playing ? 22050 : 1 << 30))
            return 1;
        if (!playing)
            send(device, QStringLiteral("close canyon"));
        QElapsedTimer timer;
        timer.start();
        send(device, QStringLiteral("set canyon soundfont ") + arguments.at(2));
        commandUs = double(timer.nsecsElapsed()) / 1e3;
        QString inUse;
        while (send(device, QStringLiteral("status canyon soundfont"), &inUse) != 0)
            QThread::usleep(200);
        readyMs = double(timer.nsecsElapsed()) / 1e6;
        if (inUse != arguments.at(2))
            return 1;
        if (playing)
            render(device);
        send(device, QStringLiteral("close canyon"));
    }
    if (!play(device, path))
        return 1;
    send(device, QStringLiteral("close canyon"));
    std::printf("%.1f %.2f %.2f\n", commandUs, readyMs, residentMb());
    return 0;
}

// The medians of five runs of one measure, each in a fresh process.
std::vector<double> medians(const QStringList &arguments)
{
    std::vector<std::vector<double>> runs(3);
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        child.start(
            QCoreApplication::applicationFilePath(), QStringList { "--measure" } + arguments);
        if (!child.waitForFinished(120000) || child.exitCode() != 0)
            return {};
        const QStringList values = QString::fromLatin1(child.readAllStandardOutput()).split(u' ');
        for (std::size_t i = 0; i < runs.size(); ++i)
            runs[i].push_back(values.value(qsizetype(i)).toDouble());
    }
    std::vector<double> result;
    for (std::vector<double> &values : runs) {
        std::sort(values.begin(), values.end());
        result.push_back(values[values.size() / 2]);
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.value(0) == QStringLiteral("--measure"))
        return measure(arguments.mid(1));
    const QString fluid = QStringLiteral("/usr/share/sounds/sf2/FluidR3_GM.sf2");
    const QString tim = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
    QList<QStringList> pairs { { fluid, tim }, { tim, fluid } };
    if (arguments.size() == 2)
        pairs = { arguments };
    bool met = true;
    for (const QStringList &pair : pairs) {
        const std::vector<double> start = medians({ QStringLiteral("start"), pair[1] });
        if (start.empty()) {
            std::fprintf(stderr, "cannot play with %s\n", qPrintable(pair[1]));
            return 1;
        }
        std::printf("%s -> %s: a start with the latter, after a song: %.1f MB\n",
            qPrintable(pair[0].section(u'/', -1)), qPrintable(pair[1].section(u'/', -1)), start[2]);
        for (const QString &when : { QStringLiteral("idle"), QStringLiteral("playing") }) {
            const std::vector<double> switched = medians(QStringList { when } + pair);
            if (switched.empty()) {
                std::fprintf(stderr, "the switch failed\n");
                return 1;
            }
            const double over = switched[2] - start[2];
            met = met && over <= 5.0;
            std::printf("  chosen while %-7s: command %.0f us, in use after %.1f ms, "
                        "after a song %.1f MB (%+.1f MB: %s)\n",
                qPrintable(when), switched[0], switched[1], switched[2], over,
                over <= 5.0 ? "met" : "MISSED");
        }
    }
    return met ? 0 : 1;
}
