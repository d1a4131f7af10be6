#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "platform/instrument_scan.h"
#include "platform/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr int Block = 4096;
// Long songs are compared over their first 25 s: enough for every instrument of the shared
// files to have played, and the test stays quick.
constexpr double MaxSeconds = 25;

QString open(const QString &path)
{
    return QStringLiteral("open ") + path + QStringLiteral(" type sequencer alias canyon");
}

bool command(SequencerDevice &device, const char *text)
{
    return device.sendCommand(QString::fromLatin1(text), nullptr, 0) == 0;
}

Smf::Song parse(const QByteArray &bytes)
{
    return Smf::readSong(
        { reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()) })
        .song;
}

using Request = InstrumentScan::Request;

} // namespace

class TestDynamicSamples : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void scanFindsEveryRequest();
    void rendersMatchFullLoading_data();
    void rendersMatchFullLoading();
    void noReadsWhilePlaying();
    void earlierInstrumentsAreReleased();

private:
    bool haveSoundFont() const { return !SequencerDevice::soundFontPath().isEmpty(); }

    QTemporaryDir m_dir;
    // One of each, kept across the shared files, so that both synthesizers see the same songs
    // in the same order.
    std::unique_ptr<SequencerDevice> m_full;
    std::unique_ptr<SequencerDevice> m_dynamic;
};

void TestDynamicSamples::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_full = std::make_unique<SequencerDevice>(
        SequencerDevice::Output::Offline, SequencerDevice::SampleLoading::Full);
    m_dynamic = std::make_unique<SequencerDevice>(
        SequencerDevice::Output::Offline, SequencerDevice::SampleLoading::Dynamic);
}

void TestDynamicSamples::scanFindsEveryRequest()
{
    const std::array<int, InstrumentScan::Channels> zero {};
    InstrumentScan scan;

    // Defaults only: a song without program changes plays program 0 and drum kit 0.
    SmfBuilder::Track plain;
    plain.noteOn(0, 0, 60).noteOff(100, 0, 60).endOfTrack();
    QCOMPARE(scan.scan(parse(SmfBuilder::header(0, 1, 96) + plain.chunk()), zero),
        (std::set<Request> { { 0, 0, false }, { 128, 0, true } }));

    // Bank select on a melodic channel, the drum channel, and banks held from an earlier song.
    SmfBuilder::Track banks;
    banks.program(0, 2, 19)
        .event(0, { 0xB0, 0, 8 })
        .program(0, 0, 4)
        .event(10, { 0xB9, 0, 5 })
        .program(0, 9, 25)
        .program(10, 1, 6)
        .endOfTrack();
    std::array<int, InstrumentScan::Channels> held {};
    held[1] = 16;
    QCOMPARE(scan.scan(parse(SmfBuilder::header(0, 1, 96) + banks.chunk()), held),
        (std::set<Request> { { 0, 0, false }, { 128, 0, true }, { 0, 19, false }, { 0, 4, false },
            { 8, 4, false }, { 128, 25, true }, { 16, 6, false }, { 0, 6, false } }));

    // A GS rhythm part turns channel 4 into a drum channel for later songs too; a reset can
    // make it melodic again, so both stay possible.
    SmfBuilder::Track rhythm;
    rhythm.event(0, { 0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x15, 0x15, 0x02, 0x14, 0xF7 });
    rhythm.endOfTrack();
    scan.scan(parse(SmfBuilder::header(0, 1, 96) + rhythm.chunk()), zero);
    SmfBuilder::Track later;
    later.program(0, 4, 48).endOfTrack();
    const std::set<Request> drums
        = scan.scan(parse(SmfBuilder::header(0, 1, 96) + later.chunk()), zero);
    QVERIFY(drums.count({ 128, 48, true }));
    QVERIFY(drums.count({ 0, 48, false }));

    // XG on: CC32 selects the bank, CC0 from 120 makes a drum channel.
    SmfBuilder::Track xg;
    xg.event(0, { 0xF0, 8, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 })
        .event(0, { 0xB2, 32, 3 })
        .program(0, 2, 11)
        .event(0, { 0xB3, 0, 127 })
        .program(0, 3, 16)
        .endOfTrack();
    const std::set<Request> yamaha
        = scan.scan(parse(SmfBuilder::header(0, 1, 96) + xg.chunk()), zero);
    QVERIFY(yamaha.count({ 3, 11, false }));
    QVERIFY(yamaha.count({ 128, 16, true }));
}

void TestDynamicSamples::rendersMatchFullLoading_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(QUAVREL_SHARED_DIR "/midi/real"));
    const QStringList names = dir.entryList({ QStringLiteral("*.mid") }, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void TestDynamicSamples::rendersMatchFullLoading()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    QFETCH(QString, path);
    SequencerDevice &full = *m_full;
    SequencerDevice &dynamic = *m_dynamic;
    const std::uint32_t opened = full.sendCommand(open(path), nullptr, 0);
    QCOMPARE(dynamic.sendCommand(open(path), nullptr, 0), opened);
    if (opened != 0)
        return;
    QVERIFY(command(full, "play canyon"));
    QVERIFY(command(dynamic, "play canyon"));

    const QByteArray bytes = SmfBuilder::readFile(path);
    const double seconds = std::min(Smf::canonicalSong(parse(bytes)).endSeconds + 1.0, MaxSeconds);
    const int blocks = int(seconds * SequencerDevice::SampleRate / Block) + 1;
    float worst = 0;
    float loudest = 0;
    std::uint64_t readWhilePlaying = 0;
    for (int block = 0; block < blocks; ++block) {
        const std::uint64_t before = SequencerDevice::soundFontBytesRead();
        const std::vector<float> mine = dynamic.render(Block);
        readWhilePlaying += SequencerDevice::soundFontBytesRead() - before;
        const std::vector<float> reference = full.render(Block);
        for (std::size_t i = 0; i < mine.size(); ++i) {
            worst = std::max(worst, std::abs(mine[i] - reference[i]));
            loudest = std::max(loudest, std::abs(reference[i]));
        }
    }
    QVERIFY(command(full, "close canyon"));
    QVERIFY(command(dynamic, "close canyon"));
    QCOMPARE(readWhilePlaying, std::uint64_t(0));
    // Within 2 least significant bits of 16-bit audio on every sample.
    const float lsb = 1.0f / 32768.0f;
    qDebug("%.2f LSB, peak %.3f", double(worst / lsb), double(loudest));
    QVERIFY2(worst <= 2 * lsb,
        qPrintable(QStringLiteral("differs by %1 LSB (peak %2)").arg(worst / lsb).arg(loudest)));
}

void TestDynamicSamples::noReadsWhilePlaying()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    // Instruments chosen every way the synthesizer allows, some only late in the song.
    SmfBuilder::Track track;
    track.event(0, { 0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7 })
        .event(0, { 0xB0, 0, 8 })
        .program(0, 0, 5)
        .event(0, { 0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x18, 0xF7 })
        .program(0, 1, 26);
    for (int i = 0; i < 12; ++i) {
        const int channel = i == 9 ? 10 : i;
        track.program(0, channel, 70 + 4 * i).noteOn(0, channel, 60).noteOn(0, 9, 36 + i);
        track.noteOff(60, channel, 60).noteOff(0, 9, 36 + i);
    }
    track.program(0, 9, 40).noteOn(0, 9, 38).noteOff(96, 9, 38).endOfTrack();
    const QString path = m_dir.filePath(QStringLiteral("many instruments.mid"));
    QVERIFY(SmfBuilder::writeFile(path, SmfBuilder::header(0, 1, 96) + track.chunk()));

    SequencerDevice device(SequencerDevice::Output::Offline);
    QCOMPARE(device.sendCommand(open(path), nullptr, 0), 0u);
    QVERIFY(device.heldInstrumentCount() >= 15);
    const std::uint64_t atOpen = SequencerDevice::soundFontBytesRead();
    QVERIFY(command(device, "play canyon"));
    float loudest = 0;
    QString mode = QStringLiteral("playing");
    for (int block = 0; block < 200 && mode == QStringLiteral("playing"); ++block) {
        for (const float sample : device.render(Block))
            loudest = std::max(loudest, std::abs(sample));
        device.sendCommand(QStringLiteral("status canyon mode"), &mode, 128);
    }
    QCOMPARE(mode, QStringLiteral("stopped"));
    QVERIFY(loudest > 0.01f);
    QCOMPARE(SequencerDevice::soundFontBytesRead(), atOpen);
    QVERIFY(command(device, "close canyon"));

    // The same with a real audio thread: FluidSynth's file driver renders on its own thread.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    {
        const QByteArray driver = qgetenv("QUAVREL_AUDIO_DRIVER");
        qputenv("QUAVREL_AUDIO_DRIVER", "file");
        SequencerDevice threaded(SequencerDevice::Output::Audio);
        QCOMPARE(threaded.sendCommand(open(path), nullptr, 0), 0u);
        const std::uint64_t opened = SequencerDevice::soundFontBytesRead();
        QVERIFY(command(threaded, "play canyon"));
        const auto stopped = [&threaded] {
            QString reply;
            return threaded.sendCommand(QStringLiteral("status canyon mode"), &reply, 128) == 0
                && reply == QStringLiteral("stopped");
        };
        QTRY_VERIFY_WITH_TIMEOUT(stopped(), 10000);
        qputenv("QUAVREL_AUDIO_DRIVER", driver);
        QVERIFY(command(threaded, "close canyon"));
        QCOMPARE(SequencerDevice::soundFontBytesRead(), opened);
    }
    QVERIFY(QDir::setCurrent(previous));
}

void TestDynamicSamples::earlierInstrumentsAreReleased()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    SequencerDevice device(SequencerDevice::Output::Offline);
    const QString allSounds
        = QStringLiteral(QUAVREL_SHARED_DIR "/midi/real/jazz-soft__test-all-gm-sounds.mid");
    QCOMPARE(device.sendCommand(open(allSounds), nullptr, 0), 0u);
    QVERIFY2(device.heldInstrumentCount() >= 128,
        qPrintable(QString::number(device.heldInstrumentCount())));
    QVERIFY(command(device, "close canyon"));

    const QString piano = m_dir.filePath(QStringLiteral("piano.mid"));
    QVERIFY(SmfBuilder::writeFile(piano, SmfBuilder::oneNoteSong(300, 300)));
    QCOMPARE(device.sendCommand(open(piano), nullptr, 0), 0u);
    // Program 0 and drum kit 0, the instruments of a reset channel, are always kept.
    QCOMPARE(device.heldInstrumentCount(), 2);
    // The same song again reads nothing: its instruments are still there.
    QVERIFY(command(device, "close canyon"));
    const std::uint64_t before = SequencerDevice::soundFontBytesRead();
    QCOMPARE(device.sendCommand(open(piano), nullptr, 0), 0u);
    QCOMPARE(SequencerDevice::soundFontBytesRead(), before);
    QVERIFY(command(device, "close canyon"));

    // Full loading holds nothing apart: everything is in memory already.
    QCOMPARE(m_full->heldInstrumentCount(), 0);
}

QTEST_GUILESS_MAIN(TestDynamicSamples)
#include "test_dynamic_samples.moc"
