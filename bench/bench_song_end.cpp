// Where songs end. For the shared real songs and generated ones of many kinds, renders each with
// the device offline, to the end it reports, and with the fluidsynth program (-ni -F, the same
// SoundFont) to the end of its file; prints per song the tail (from End of Track to the device's
// end), the level of the last 10 ms before that end, and how long each render sounds (until it
// stays below -60 dBFS). A song passes when its end is no step louder than -40 dBFS and it sounds
// within 0.5 s as long as FluidSynth's render. Where it does not, FluidSynth also renders the
// canonical file the device hands it, to tell the reader's part from the tail's.
//
//   bench_song_end                      the table (needs the fluidsynth package)
//   bench_song_end note MS FILE         writes a song of one piano note of MS milliseconds, End
//                                       of Track as it is released
//   bench_song_end silences FILE        the silences between sounds in a recording (raw float
//                                       stereo at 44.1 kHz, as parec records it): for each, its
//                                       length from the last sample above -60 dBFS and from the
//                                       last sample that is not 0, to the next sample that is not
//                                       0 (ms); bench/song_gaps.sh uses both

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "sequencer/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

using SmfBuilder::Track;
constexpr int Rate = SequencerDevice::SampleRate;
constexpr float Audible = 1e-3f; // -60 dBFS

// Generated songs of the kinds that readers and players disagree on. At 500 ticks per quarter
// note and the default tempo one tick is a millisecond.
std::vector<std::pair<QString, QByteArray>> generatedSongs()
{
    std::vector<std::pair<QString, QByteArray>> songs;
    const auto add = [&songs](const char *name, const QByteArray &bytes) {
        songs.emplace_back(QString::fromLatin1(name), bytes);
    };
    const auto scale = [](Track &track, int channel, int notes, int ms) -> Track & {
        for (int i = 0; i < notes; ++i)
            track.noteOn(0, channel, 60 + i % 12).noteOff(quint32(ms), channel, 60 + i % 12);
        return track;
    };
    add("one piano note, released at End of Track", SmfBuilder::oneNoteSong(500, 500));
    Track strings;
    strings.program(0, 0, 48).noteOn(0, 0, 55).noteOn(0, 0, 62).noteOn(0, 0, 67);
    add("string chord, released at End of Track",
        strings.noteOff(1500, 0, 55).noteOff(0, 0, 62).noteOff(0, 0, 67).endOfTrack().song());
    Track tempos;
    tempos.tempo(0, 500000).tempo(1000, 250000).tempo(1000, 1000000).endOfTrack(1000);
    Track notes;
    add("tempo map on another track",
        SmfBuilder::header(1, 2, 500) + tempos.chunk()
            + scale(notes, 0, 12, 250).endOfTrack().chunk());
    Track smpte;
    add("SMPTE division (25 fps, 40 ticks a frame)",
        SmfBuilder::header(0, 1, 0xE728) + scale(smpte, 0, 8, 250).endOfTrack().chunk());
    Track first;
    Track second;
    first.program(0, 0, 0);
    second.program(0, 0, 40);
    add("format 2, two sequences",
        SmfBuilder::header(2, 2, 500) + scale(first, 0, 4, 250).endOfTrack().chunk()
            + scale(second, 0, 4, 250).endOfTrack().chunk());
    Track running;
    running.program(0, 0, 0)
        .noteOn(0, 0, 60)
        .event(0, { 0xFF, 0x01, 1, 'a' })
        .event(0, { 64, 100 });
    running.event(400, { 0xFF, 0x01, 1, 'b' }).event(0, { 60, 0 }).event(0, { 64, 0 });
    add("running status across meta events", running.endOfTrack(100).song());
    Track zero;
    for (int i = 0; i < 8; ++i)
        zero.noteOn(0, 1, 48 + i).event(200, { 0x91, 48 + i, 0 });
    add("velocity-0 note-offs", zero.endOfTrack().song());
    Track bend;
    bend.program(0, 0, 80).event(0, { 0xB0, 101, 0 }).event(0, { 0xB0, 100, 0 });
    bend.event(0, { 0xB0, 6, 12 }).event(0, { 0xB0, 38, 0 }).noteOn(0, 0, 60);
    for (int i = 0; i <= 8; ++i)
        bend.event(100, { 0xE0, 0, 64 + i * 7 });
    add("RPN pitch-bend range of 12", bend.noteOff(100, 0, 60).endOfTrack().song());
    Track banks;
    banks.event(0, { 0xB0, 0, 8 }).program(0, 0, 4).program(0, 9, 16);
    for (int i = 0; i < 6; ++i)
        banks.noteOn(0, 0, 60 + i)
            .noteOn(0, 9, 36 + i * 2)
            .noteOff(200, 0, 60 + i)
            .noteOff(0, 9, 36 + i * 2);
    banks.program(0, 9, 40).noteOn(0, 9, 38).noteOff(200, 9, 38);
    add("bank select and drum kits", banks.endOfTrack().song());
    Track resets;
    resets.program(0, 0, 19).noteOn(0, 0, 60).noteOff(500, 0, 60);
    resets.event(0, { 0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7 }).noteOn(0, 0, 64).noteOff(500, 0, 64);
    resets.event(0, { 0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 });
    resets.program(0, 0, 19).noteOn(0, 0, 67).noteOff(500, 0, 67);
    add("GM and GS resets mid-song", resets.endOfTrack().song());
    Track late;
    late.program(0, 0, 11).noteOn(8000, 0, 72).noteOff(400, 0, 72);
    add("8 s of silence first", late.endOfTrack(200).song());
    Track overlap;
    overlap.program(0, 0, 0).noteOn(0, 0, 60).noteOn(200, 0, 60).noteOff(200, 0, 60);
    overlap.noteOn(0, 0, 60).noteOff(300, 0, 60).noteOff(0, 0, 60);
    add("overlapping notes of one pitch", overlap.endOfTrack().song());
    Track held;
    held.program(0, 0, 16).event(0, { 0xB0, 64, 127 }).noteOn(0, 0, 60).noteOff(500, 0, 60);
    add("organ note held by the sustain pedal", held.endOfTrack().song());
    Track pad;
    pad.program(0, 0, 94).noteOn(0, 0, 60).noteOff(500, 0, 60);
    add("pad whose release outlasts the 3 s limit", pad.endOfTrack().song());
    return songs;
}

// Stereo, interleaved.
struct Rendered
{
    std::vector<float> samples;
    double lastEventMs = -1;
    double endMs = -1;
};

Rendered renderWithDevice(SequencerDevice &device, const QString &path)
{
    Rendered out;
    if (device.sendCommand(
            QStringLiteral("open \"%1\" type sequencer alias canyon").arg(path), nullptr, 0)
            != 0
        || device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0)
        return out;
    device.finishWork();
    QString reply;
    device.sendCommand(QStringLiteral("status canyon length"), &reply, 32);
    out.lastEventMs = reply.toDouble();
    // 10 ms at a time, until the device no longer reports the song as playing.
    for (QString mode = QStringLiteral("playing"); mode == QStringLiteral("playing");) {
        const std::vector<float> block = device.render(Rate / 100);
        out.samples.insert(out.samples.end(), block.begin(), block.end());
        device.sendCommand(QStringLiteral("status canyon mode"), &mode, 32);
        if (double(out.samples.size()) / 2 / Rate * 1000 > out.lastEventMs + 60000)
            break;
    }
    // Where the device stopped rendering (the position it reports stops at the song's length).
    out.endMs = double(out.samples.size()) / 2 / Rate * 1000;
    device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);
    return out;
}

// The 16-bit WAV file that fluidsynth -F writes, as floats; empty when it wrote none.
std::vector<float> renderWithFluidSynth(const QString &midi, const QString &wav)
{
    QFile::remove(wav);
    QProcess fluidsynth;
    fluidsynth.start(QStringLiteral("fluidsynth"),
        { QStringLiteral("-ni"), QStringLiteral("-q"), QStringLiteral("-r"), QString::number(Rate),
            QStringLiteral("-F"), wav, SequencerDevice::soundFontPath(), midi });
    fluidsynth.waitForFinished(600000);
    QFile file(wav);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll().mid(44);
    std::vector<float> samples(std::size_t(bytes.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(qFromLittleEndian<qint16>(bytes.constData() + 2 * i)) / 32768.0f;
    return samples;
}

// Seconds until the sound stays below -60 dBFS.
double soundingSeconds(const std::vector<float> &samples)
{
    const auto last = std::find_if(
        samples.rbegin(), samples.rend(), [](float s) { return std::abs(s) > Audible; });
    return double(samples.rend() - last) / 2 / Rate;
}

double dbfs(float level)
{
    return level > 0 ? 20 * std::log10(level) : -999;
}

// The loudest sample in the 10 ms before the frame.
float levelBefore(const std::vector<float> &samples, std::size_t frame)
{
    const std::size_t end = std::min(2 * frame, samples.size());
    const std::size_t begin = end - std::min<std::size_t>(end, 2 * Rate / 100);
    float peak = 0;
    for (std::size_t i = begin; i < end; ++i)
        peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

int table()
{
    if (SequencerDevice::soundFontPath().isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("fluidsynth")).isEmpty()) {
        std::fprintf(stderr, "needs a SoundFont and the fluidsynth program\n");
        return 1;
    }
    QTemporaryDir dir;
    std::vector<std::pair<QString, QString>> songs;
    for (const auto &[name, bytes] : generatedSongs()) {
        songs.emplace_back(name, dir.filePath(QStringLiteral("%1.mid").arg(songs.size())));
        SmfBuilder::writeFile(songs.back().second, bytes);
    }
    const QDir real(QStringLiteral(QUAVREL_SHARED_DIR "/midi/real"));
    for (const QString &name : real.entryList({ QStringLiteral("*.mid") }, QDir::Files))
        songs.emplace_back(name, real.filePath(name));

    SequencerDevice device(SequencerDevice::Output::Offline);
    const QString wav = dir.filePath(QStringLiteral("fluidsynth.wav"));
    std::printf("SoundFont %s; times in s, levels in dBFS\n\n",
        qPrintable(
            QFileInfo(QFileInfo(SequencerDevice::soundFontPath()).canonicalFilePath()).fileName()));
    std::printf("| song | End of Track | Quavrel's end | tail | last 10 ms | sounds: Quavrel | "
                "fluidsynth | difference | |\n|---|---|---|---|---|---|---|---|---|\n");
    std::vector<double> tails;
    int failed = 0;
    for (const auto &[name, path] : songs) {
        const Rendered ours = renderWithDevice(device, path);
        if (ours.endMs < 0) {
            std::printf("| %s | refused | | | | | | | |\n", qPrintable(name));
            continue;
        }
        const double sounds = soundingSeconds(ours.samples);
        double theirs = soundingSeconds(renderWithFluidSynth(path, wav));
        const double step = dbfs(levelBefore(ours.samples, std::size_t(ours.endMs * Rate / 1000)));
        tails.push_back((ours.endMs - ours.lastEventMs) / 1000);
        QString verdict = QStringLiteral("ok");
        if (std::abs(sounds - theirs) > 0.5) {
            // The same against FluidSynth playing the file the device hands it.
            const QByteArray bytes = SmfBuilder::readFile(path);
            const std::vector<std::uint8_t> canonical = Smf::writeSong(
                Smf::canonicalSong(Smf::readSong(SmfBuilder::span(bytes)).song).song);
            const QString copy = dir.filePath(QStringLiteral("canonical.mid"));
            SmfBuilder::writeFile(copy,
                QByteArray(
                    reinterpret_cast<const char *>(canonical.data()), qsizetype(canonical.size())));
            const double again = soundingSeconds(renderWithFluidSynth(copy, wav));
            verdict = QStringLiteral("fluidsynth reads it otherwise; on the device's copy it "
                                     "sounds %1 s")
                          .arg(again, 0, 'f', 2);
            if (std::abs(sounds - again) > 0.5)
                verdict = QStringLiteral("FAILED: ") + verdict;
        }
        if (step > -40)
            verdict = QStringLiteral("FAILED: a step at the end; ") + verdict;
        failed += verdict.contains(QLatin1StringView("FAILED"));
        std::printf("| %s | %.3f | %.3f | %.3f | %.1f | %.3f | %.3f | %+.3f | %s |\n",
            qPrintable(name), ours.lastEventMs / 1000, ours.endMs / 1000, tails.back(), step,
            sounds, theirs, sounds - theirs, qPrintable(verdict));
    }
    std::sort(tails.begin(), tails.end());
    std::printf("\n%zu songs played, %d failed; tails %.2f s (median), %.2f to %.2f s\n",
        tails.size(), failed, tails[tails.size() / 2], tails.front(), tails.back());
    return failed == 0 ? 0 : 1;
}

// Silences between the sounds of a recording, as described at the top.
int silences(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    const auto frames = std::int64_t(bytes.size() / 8);
    const auto level = [&](std::int64_t frame) {
        const char *at = bytes.constData() + 8 * frame;
        return std::max(
            std::abs(qFromLittleEndian<float>(at)), std::abs(qFromLittleEndian<float>(at + 4)));
    };
    // A silence is at least 20 ms of samples that are 0.
    std::int64_t lastLoud = -1;
    std::int64_t lastSound = -1;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const float now = level(frame);
        if (now == 0)
            continue;
        if (lastSound >= 0 && frame - lastSound > Rate / 50)
            std::printf("%.1f %.1f\n", double(frame - lastLoud) * 1000 / Rate,
                double(frame - lastSound) * 1000 / Rate);
        lastSound = frame;
        if (now > Audible)
            lastLoud = frame;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "note" && argc == 4) {
        const int ms = QByteArray(argv[2]).toInt();
        return SmfBuilder::writeFile(
                   QString::fromLocal8Bit(argv[3]), SmfBuilder::oneNoteSong(ms, ms))
            ? 0
            : 1;
    }
    if (mode == "silences" && argc == 3)
        return silences(QString::fromLocal8Bit(argv[2]));
    if (argc == 1)
        return table();
    std::fprintf(stderr, "usage: bench_song_end [note MS FILE | silences FILE]\n");
    return 2;
}
