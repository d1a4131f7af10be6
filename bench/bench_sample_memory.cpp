// Soak of the per-instrument sample loading: 200 songs of varied instruments (melodic ones from
// every bank of the SoundFont, drum kits, bank selects) played to their end one after another
// through one device, offline. Target: resident memory after the last song within 20 MB of
// memory after the first. Run by hand: bench_sample_memory [songs] [--full]

#include "bench/process_memory.h"
#include "sequencer/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// About 1.2 s: six instruments on six channels, some from banks 8 and 16, a drum kit on
// channel 10, a second program on channel 1 halfway.
QByteArray variedSong(QRandomGenerator &random)
{
    static const int kits[] = { 0, 8, 16, 24, 25, 32, 40, 48, 56, 127 };
    SmfBuilder::Track track;
    for (int channel = 0; channel < 6; ++channel) {
        const int bank = random.bounded(4) == 0 ? (random.bounded(2) ? 8 : 16) : 0;
        track.event(0, { 0xB0 | channel, 0, bank }).program(0, channel, random.bounded(128));
    }
    track.program(0, 9, kits[random.bounded(int(std::size(kits)))]);
    for (int step = 0; step < 8; ++step) {
        if (step == 4)
            track.program(0, 1, random.bounded(128));
        for (int channel = 0; channel < 6; ++channel)
            track.noteOn(0, channel, 40 + random.bounded(40));
        track.noteOn(0, 9, 35 + random.bounded(46));
        track.event(70, { 0xB0, 123, 0 });
        for (int channel = 1; channel < 6; ++channel)
            track.event(0, { 0xB0 | channel, 123, 0 });
        track.event(0, { 0xB9, 123, 0 });
    }
    track.endOfTrack(48);
    return SmfBuilder::header(0, 1, 96) + track.chunk();
}

bool playToEnd(SequencerDevice &device, const QString &path)
{
    if (device.sendCommand(
            QStringLiteral("open ") + path + QStringLiteral(" type sequencer alias canyon"),
            nullptr, 0)
            != 0
        || device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0)
        return false;
    QString mode = QStringLiteral("playing");
    for (int block = 0; block < 2000 && mode == QStringLiteral("playing"); ++block) {
        device.render(1024);
        device.sendCommand(QStringLiteral("status canyon mode"), &mode, 128);
    }
    return device.sendCommand(QStringLiteral("close canyon"), nullptr, 0) == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    int songs = 200;
    bool full = false;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--full")
            full = true;
        else
            songs = std::max(2, QByteArray(argv[i]).toInt());
    }
    if (SequencerDevice::soundFontPath().isEmpty()) {
        std::fprintf(stderr, "need a SoundFont\n");
        return 1;
    }
    QTemporaryDir dir;
    QRandomGenerator random(20261206);
    std::vector<QString> paths;
    for (int i = 0; i < songs; ++i) {
        paths.push_back(dir.filePath(QStringLiteral("song %1.mid").arg(i)));
        SmfBuilder::writeFile(paths.back(), variedSong(random));
    }

    SequencerDevice device(SequencerDevice::Output::Offline,
        full ? SequencerDevice::SampleLoading::Full : SequencerDevice::SampleLoading::Dynamic);
    std::printf("SoundFont %s, %s loading, %d songs\n",
        qPrintable(SequencerDevice::soundFontPath()), full ? "full" : "dynamic", songs);
    double first = 0;
    double highest = 0;
    double lowest = 1e12;
    for (int i = 0; i < songs; ++i) {
        if (!playToEnd(device, paths[std::size_t(i)])) {
            std::fprintf(stderr, "song %d did not play\n", i);
            return 1;
        }
        const double now = residentMb();
        if (i == 0)
            first = now;
        highest = std::max(highest, now);
        lowest = std::min(lowest, now);
        if ((i + 1) % 25 == 0)
            std::printf("after song %3d: %7.1f MB resident, %3d instruments held\n", i + 1, now,
                device.heldInstrumentCount());
    }
    const double last = residentMb();
    std::printf("%-44s %8.1f MB\n", "resident after the first song", first);
    std::printf("%-44s %8.1f MB\n", "resident after the last song", last);
    std::printf("%-44s %8.1f MB\n", "lowest / highest after a song", lowest);
    std::printf("%-44s %8.1f MB\n", "", highest);
    std::printf("%-44s %8.1f MB (target within 20 MB): %s\n", "last minus first", last - first,
        std::abs(last - first) <= 20 ? "met" : "MISSED");
    std::printf("%-44s %8.1f MB\n", "SoundFont read from disk",
        SequencerDevice::soundFontBytesRead() / 1e6);
    return 0;
}
