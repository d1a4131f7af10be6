#include "sequencer/sequencer_device.h"
#include "tests/support/smf_builder.h"
#include "tests/support/test_device.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using SmfBuilder::oneNoteSong;
using SmfBuilder::Track;
using Output = SequencerDevice::Output;

namespace {

// About 10 ms; a multiple of the synthesizer's 64-frame step, so that no block holds frames
// rendered before the previous command.
constexpr int Block = 448;
constexpr int Rate = SequencerDevice::SampleRate;
constexpr const char *Tim = "/usr/share/sounds/sf2/TimGM6mb.sf2";

int taskCount()
{
    return int(QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestSequencerDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void playsUntilItsSoundEnds_data();
    void playsUntilItsSoundEnds();
    void seeksWithTheSongsState();
    void badFilesFailAtOpen_data();
    void badFilesFailAtOpen();
    void rendersMatchFullLoading_data();
    void rendersMatchFullLoading();
    void earlierInstrumentsAreReleased();
    void threadCycles();
    void problemsAreSaidOnce_data();
    void problemsAreSaidOnce();
    void soundFontSwitches_data();
    void soundFontSwitches();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        return SmfBuilder::writeFile(path, bytes) ? path : QString();
    }

    QTemporaryDir m_dir;
    // Kept from song to song by rendersMatchFullLoading, as the program keeps its one device.
    TestDevice m_full { Output::Offline, SequencerDevice::SampleLoading::Full };
    TestDevice m_dynamic { Output::Offline };
};

void TestSequencerDevice::initTestCase()
{
    if (SequencerDevice::soundFontPath().isEmpty())
        QSKIP("no SoundFont installed");
    QVERIFY(m_dir.isValid() && QDir(m_dir.path()).mkpath(u"my songs, new"_s));
}

void TestSequencerDevice::playsUntilItsSoundEnds_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("pausedAt"); // frames into the song; 0 for none
    QTest::addColumn<bool>("hangs");
    // One piano note from 0 to 500 ms, End of Track right after it, in a path with spaces and
    // " type ": the note's release and the reverb are heard out.
    const QString song = write(u"my songs, new/Für Elise type 2.mid"_s, oneNoteSong(500, 500));
    QTest::newRow("released at its end") << song << 0 << false;
    QTest::newRow("paused in its release") << song << 600 * Rate / 1000 << false;
    // An organ whose release lasts for minutes (a SoundFont generator set by NRPN 120/38).
    Track organ;
    organ.program(0, 0, 19).event(0, { 0xB0, 99, 120 }).event(0, { 0xB0, 98, 38 });
    organ.event(0, { 0xB0, 38, 0 }).event(0, { 0xB0, 6, 120 }).noteOn(0, 0, 60).noteOff(500, 0, 60);
    QTest::newRow("never ends") << write(u"organ.mid"_s, organ.endOfTrack().song()) << 0 << true;
}

// A song reads as playing until its sound has died away, and ends in silence: after its last
// event (at 500 ms) the output stays below -80 dB for 100 ms, or, for a note that never ends, it
// is faded out 3 s after that event. Paused, nothing renders and the song keeps its place: it goes
// on exactly as it would have. Play after the end starts it again; close silences it at once.
void TestSequencerDevice::playsUntilItsSoundEnds()
{
    QFETCH(QString, path);
    QFETCH(int, pausedAt);
    QFETCH(bool, hangs);
    TestDevice device(Output::Offline);
    TestDevice reference(Output::Offline);
    QVERIFY(device.open(path, u"other"_s) != 0);
    QCOMPARE(device.open(path), 0u);
    QCOMPARE(device.mode(), u"stopped"_s);
    QVERIFY(device(u"play CANYON"_s) == 0 && reference.open(path) == 0
        && reference(u"play canyon"_s) == 0);
    // An open over the open alias fails and changes nothing.
    QCOMPARE(device.open(write(u"b.mid"_s, oneNoteSong(9, 9))), SequencerDevice::AliasInUse);
    std::vector<float> sound;
    for (int rendered = 0; device.mode() == u"playing"_s && rendered < 10 * Rate;
         rendered += Block) {
        if (rendered == pausedAt - pausedAt % Block && pausedAt > 0) {
            QCOMPARE(device(u"pause canyon"_s), 0u);
            const QString position = device.status(u"position"_s);
            QCOMPARE(device.mode(), u"paused"_s);
            QCOMPARE(device.peak(20 * Block), 0.0f);
            QCOMPARE(device.status(u"position"_s), position);
            QCOMPARE(device(u"resume canyon"_s), 0u);
        }
        const std::vector<float> block = device.render(Block);
        QVERIFY(block == reference.render(Block));
        sound.insert(sound.end(), block.begin(), block.end());
    }
    const auto peak = [&sound](int fromMs, int toMs) {
        const auto at = [&](int ms) {
            return sound.begin() + std::min(2 * (ms * Rate / 1000), int(sound.size()));
        };
        return std::abs(*std::max_element(
            at(fromMs), at(toMs), [](float a, float b) { return std::abs(a) < std::abs(b); }));
    };
    const int endMs = int(sound.size() / 2) * 1000 / Rate;
    QVERIFY2(peak(0, 500) > 0.05f && peak(600, 700) > 1e-3f, qPrintable(QString::number(endMs)));
    if (hangs) {
        // Faded out over 50 ms to its last sound, 3 s after the last event.
        const auto heard
            = std::find_if(sound.rbegin(), sound.rend(), [](float x) { return x != 0; });
        const int lastMs = int(std::distance(heard, sound.rend()) / 2) * 1000 / Rate;
        QVERIFY2(std::abs(lastMs - 3500) <= 5
                && peak(lastMs - 2, lastMs) < peak(lastMs - 60, lastMs - 50) / 10,
            qPrintable(QString::number(lastMs)));
    } else {
        QVERIFY2(
            endMs < 3500 && peak(endMs - 100, endMs) < 1e-4f, qPrintable(QString::number(endMs)));
    }
    QCOMPARE(device.status(u"length"_s), u"500"_s);
    // Play after the end starts the song again from its beginning; close silences it at once.
    QCOMPARE(device(u"play canyon"_s), 0u);
    QCOMPARE(device.mode(), u"playing"_s);
    QVERIFY(device.peak(20 * Block) > 0.02f);
    QCOMPARE(device(u"Close Canyon"_s), 0u);
    QCOMPARE(device.peak(Block), 0.0f);
    QCOMPARE(device.mode(), u"failed"_s);
}

// A seek back replays the song's controllers from its start: the volume set to 0 at 1 s does not
// silence the note at the start. A seek past the end ends the song as its end does.
void TestSequencerDevice::seeksWithTheSongsState()
{
    TestDevice device(Output::Offline);
    Track song;
    song.noteOn(0, 0, 60).noteOff(300, 0, 60).event(700, { 0xB0, 7, 0 }).endOfTrack(9000);
    QVERIFY(device.open(write(u"seek.mid"_s, song.song())) == 0 && device(u"play canyon"_s) == 0);
    QVERIFY(device.peak(Rate / 4) > 0.02f);
    device.peak(2 * Rate);
    QCOMPARE(device(u"seek canyon to 0"_s), 0u);
    QCOMPARE(device.status(u"position"_s), u"0"_s);
    QVERIFY(device.peak(Rate / 4) > 0.02f);
    QCOMPARE(device(u"seek canyon to 99999"_s), 0u);
    for (int rendered = 0; device.mode() == u"playing"_s && rendered < 3 * Rate; rendered += Block)
        device.peak(Block);
    QCOMPARE(device.mode(), u"stopped"_s);
}

void TestSequencerDevice::badFilesFailAtOpen_data()
{
    QTest::addColumn<QString>("path");
    const QString fifo = m_dir.filePath(u"pipe.mid"_s);
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QTest::newRow("missing") << m_dir.filePath(u"no such song.mid"_s);
    QTest::newRow("empty path") << QString();
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("device") << u"/dev/zero"_s;
    QTest::newRow("fifo") << fifo;
    QTest::newRow("0 bytes") << write(u"empty.mid"_s, QByteArray());
}

// What is no regular file fails at open, without waiting; a file that is no song once it is read,
// and then reads as stopped.
void TestSequencerDevice::badFilesFailAtOpen()
{
    QFETCH(QString, path);
    TestDevice device(Output::Offline);
    // An open that blocks ends the program (SIGALRM) instead of stalling the run.
    ::alarm(60);
    const std::uint32_t opened = device.open(path);
    ::alarm(0);
    if (QFileInfo(path).isFile()) {
        QVERIFY(opened == 0 && device(u"play canyon"_s) == 0);
        QTRY_COMPARE(device.mode(), u"stopped"_s);
        QCOMPARE(device(u"play canyon"_s), SequencerDevice::InvalidFile);
        QCOMPARE(device(u"close canyon"_s), 0u);
    }
    // Nothing is left open, and the alias is free for a good song.
    QVERIFY(device(u"play canyon"_s) != 0);
    QCOMPARE(device.mode(), u"failed"_s);
    QCOMPARE(device.open(write(u"good.mid"_s, oneNoteSong(500, 500))), 0u);
}

void TestSequencerDevice::rendersMatchFullLoading_data()
{
    QTest::addColumn<QString>("path");
    // Instruments chosen every way the synthesizer allows: bank select (8:38), a GS rhythm part
    // (128:25), the drum channel (128:40); then the bank held from that song (8:80), bank 0 after
    // General MIDI on (0:116), and after XG on a bank from CC32 (8:48) and drums from CC0 (128:16).
    // Each has samples of its own. SysEx goes to all devices: FluidSynth ignores it for device 16.
    Track gs;
    gs.event(0, { 0xB0, 0, 8 }).program(0, 0, 38).program(0, 9, 40).noteOn(0, 9, 38);
    gs.event(0, { 0xF0, 10, 0x41, 0x7F, 0x42, 0x12, 0x40, 0x12, 0x15, 1, 0x18, 0xF7 });
    gs.program(0, 1, 25).noteOn(0, 1, 38).noteOn(0, 0, 60).endOfTrack(500);
    QTest::newRow("GS") << write(u"gs.mid"_s, gs.song());
    Track xg;
    xg.program(0, 0, 80).noteOn(0, 0, 60).event(200, { 0xF0, 5, 0x7E, 0x7F, 9, 1, 0xF7 });
    xg.program(0, 0, 116).event(0, { 0xF0, 8, 0x43, 0x7F, 0x4C, 0, 0, 0x7E, 0, 0xF7 });
    xg.event(0, { 0xB2, 32, 8 }).program(0, 2, 48).event(0, { 0xB3, 0, 127 }).program(0, 3, 16);
    xg.noteOn(0, 0, 60).noteOn(0, 2, 60).noteOn(0, 3, 38).endOfTrack(500);
    QTest::newRow("XG") << write(u"xg.mid"_s, xg.song());
    const QDir dir(QStringLiteral(QUAVREL_SHARED_DIR "/midi/real"));
    if (!dir.exists())
        QTest::newRow("shared songs") << QString();
    for (const QFileInfo &file : dir.entryInfoList({ u"*.mid"_s }))
        QTest::newRow(qPrintable(file.fileName())) << file.filePath();
}

// Each song played by a device that loads the samples of its instruments at open and one that
// holds the whole SoundFont, side by side, to its end or for 30 s.
void TestSequencerDevice::rendersMatchFullLoading()
{
    QFETCH(QString, path);
    if (path.isEmpty())
        QSKIP("no MIDI files in " QUAVREL_SHARED_DIR "/midi/real");
    QVERIFY(m_full.open(path) == 0 && m_dynamic.open(path) == 0);
    QVERIFY(m_full(u"play canyon"_s) == 0 && m_dynamic(u"play canyon"_s) == 0);
    m_full.finishWork(), m_dynamic.finishWork();
    const std::uint64_t read = SequencerDevice::soundFontBytesRead();
    int rendered = 0;
    float worst = 0;
    float loudest = 0;
    for (; m_dynamic.mode() == u"playing"_s && rendered < 30 * Rate; rendered += Block) {
        const std::vector<float> mine = m_dynamic.render(Block);
        const std::vector<float> reference = m_full.render(Block);
        for (std::size_t i = 0; i < mine.size(); ++i) {
            worst = std::max(worst, std::abs(mine[i] - reference[i]));
            loudest = std::max(loudest, std::abs(reference[i]));
        }
    }
    QVERIFY(m_full(u"close canyon"_s) == 0 && m_dynamic(u"close canyon"_s) == 0);
    // Nothing is read from the SoundFont while playing; every sample is within 2 least
    // significant bits of 16-bit audio.
    QCOMPARE(SequencerDevice::soundFontBytesRead(), read);
    QVERIFY2(worst <= 2.0f / 32768, qPrintable(u"differs by %1 LSB"_s.arg(worst * 32768)));
    QVERIFY(loudest > 0.01f || rendered < Rate / 2); // a silent song ends at once
}

void TestSequencerDevice::earlierInstrumentsAreReleased()
{
    TestDevice device(Output::Offline);
    Track all;
    for (int program = 0; program < 128; ++program)
        all.program(0, 0, program);
    QCOMPARE(device.open(write(u"all.mid"_s, all.endOfTrack().song())), 0u);
    QCOMPARE(device(u"close canyon"_s), 0u);
    // Program 0 and drum kit 0, the instruments of a reset channel, are always kept; the same
    // song again reads nothing.
    const QString piano = write(u"piano.mid"_s, oneNoteSong(300, 300));
    QCOMPARE(device.open(piano), 0u);
    QCOMPARE(device.heldInstrumentCount(), 2);
    QCOMPARE(device(u"close canyon"_s), 0u);
    const std::uint64_t read = SequencerDevice::soundFontBytesRead();
    QCOMPARE(device.open(piano), 0u);
    QCOMPARE(SequencerDevice::soundFontBytesRead(), read);
}

// FluidSynth's file driver renders in real time into fluidsynth.wav in the working folder, on
// its own thread, while commands come from this one. Nothing here depends on how fast either
// runs: every wait is for a condition, with a deadline far beyond a loaded machine's pace.
void TestSequencerDevice::threadCycles()
{
    const QString previous = QDir::currentPath();
    const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("QUAVREL_AUDIO_DRIVER", "file");
    const QString shortSong = write(u"short.mid"_s, oneNoteSong(300, 300));
    const QString longSong = write(u"long.mid"_s, oneNoteSong(5000, 5000));
    // Loading the SoundFont may leave an idle worker thread of FluidSynth's loader.
    TestDevice device(Output::Audio);
    QVERIFY(device.open(longSong) == 0 && device(u"close canyon"_s) == 0);
    const int idle = taskCount();
    for (int round = 0; round < 6; ++round) {
        TestDevice playing(Output::Audio);
        QVERIFY(playing.open(longSong) == 0 && playing(u"play canyon"_s) == 0);
        QThread::usleep(1000 * round);
    }
    // The audio thread is joined at close or destruction; the kernel may list it a moment longer.
    QTRY_COMPARE_WITH_TIMEOUT(taskCount(), idle, 60000);
    // Closes land at every moment of the audio thread's life: while the song is read, at once,
    // while it renders, while the status is read, and after the song's end.
    for (int cycle = 1; cycle <= 300; ++cycle) {
        QCOMPARE(device.open(cycle % 25 ? longSong : shortSong), 0u);
        QCOMPARE(taskCount(), idle);
        QCOMPARE(device(u"play canyon"_s), 0u);
        if (cycle % 3) { // else it closes while the song is being read
            device.finishWork();
            QVERIFY(taskCount() > idle);
        }
        if (cycle % 25 == 0)
            QTRY_COMPARE_WITH_TIMEOUT(device.mode(), u"stopped"_s, 60000);
        for (int i = 0; i < cycle % 4 && !device.mode().isEmpty(); ++i)
            QThread::usleep(700 * (cycle % 7));
        QCOMPARE(device(u"close canyon"_s), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(taskCount(), idle, 60000);
    }
}

void TestSequencerDevice::problemsAreSaidOnce_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("said"); // besides the value
    const QString system = SequencerDevice::soundFontPath();
    const QString fifo = m_dir.filePath(u"fifo.sf2"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray soundFont = "QUAVREL_SOUNDFONT";
    const QStringList instead { system, u"QUAVREL_SOUNDFONT to"_s };
    QTest::newRow("no audio output")
        << QByteArray("QUAVREL_AUDIO_DRIVER") << u"no-such-driver"_s
        << QStringList { u"No audio output could be opened, so songs cannot be heard.\n"_s };
    QTest::newRow("missing SoundFont") << soundFont << m_dir.filePath(u"none.sf2"_s) << instead;
    QTest::newRow("FIFO") << soundFont << fifo << instead;
    // Chosen before the synthesizer is made, as the window does with the one it remembers.
    QTest::newRow("chosen, gone") << QByteArray("set canyon soundfont ")
                                  << m_dir.filePath(u"gone.sf2"_s) << QStringList { system };
}

// An audio output that cannot be opened, or a SoundFont named by QUAVREL_SOUNDFONT or chosen
// that is missing or cannot be read without blocking (a FIFO), is said once, at the first play,
// with what is wrong; with a broken SoundFont, songs sound with the system's instead.
void TestSequencerDevice::problemsAreSaidOnce()
{
    QFETCH(QByteArray, variable);
    QFETCH(QString, value);
    QFETCH(QStringList, said);
    const bool set = variable.startsWith("set ");
    const auto restore = qScopeGuard([&variable, set, before = qgetenv(variable)] {
        if (!set)
            qputenv(variable, before);
    });
    const bool audio = variable == "QUAVREL_AUDIO_DRIVER";
    TestDevice device(audio ? Output::Audio : Output::Offline);
    if (set)
        QCOMPARE(device(QString::fromLatin1(variable) + value), 0u);
    else
        qputenv(variable, QFile::encodeName(value));
    QStringList shown;
    device.setMessageHandler([&shown](const QString &text) { shown.append(text); });
    if (audio)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Quavrel: no audio output"_s));
    const QString song = write(u"said.mid"_s, oneNoteSong(500, 500));
    for (int attempt = 0; attempt < 2; ++attempt) {
        QCOMPARE(device.open(song), 0u);
        QCOMPARE(device(u"play canyon"_s), 0u);
        if (audio)
            QTRY_COMPARE(device.mode(), u"stopped"_s);
        else
            QVERIFY(device.peak(20 * Block) > 0.05f);
        QCOMPARE(device(u"close canyon"_s), 0u);
    }
    QCOMPARE(shown.size(), 1);
    for (const QString &part : said << value)
        QVERIFY2(shown[0].contains(part), qPrintable(shown[0]));
}

void TestSequencerDevice::soundFontSwitches_data()
{
    QTest::addColumn<QStringList>("chosen"); // one after the other, while a song plays
    QTest::addColumn<QStringList>("said"); // by each, besides its file
    if (!QFile::exists(u"/usr/share/sounds/sf2/FluidR3_GM.sf2"_s) || !QFile::exists(Tim))
        QSKIP("needs FluidR3_GM.sf2 and TimGM6mb.sf2 (packages fluid-soundfont-gm and "
              "timgm6mb-soundfont)");
    // The header of a SoundFont, then no INFO list; a header announcing fewer bytes than follow.
    const QString junk = write(u"junk.sf2"_s, "RIFF\x10\0\0\0sfbkJUNK\x04\0\0\0abcd"_ba);
    const QString cut = write(u"cut.sf2"_s, "RIFF\x04\0\0\0sfbk and more"_ba);
    QTest::newRow("TimGM6mb") << QStringList { Tim } << QStringList {};
    QTest::newRow("text named .sf2")
        << QStringList { write(u"my songs, new/notes .sf2"_s, "Sound!\n") }
        << QStringList { u"it is not a SoundFont"_s };
    QTest::newRow("refused by FluidSynth, twice")
        << QStringList { junk, cut }
        << QStringList { u"(Invalid chunk id in level 0 parse)"_s,
               u"(SoundFont file size mismatch)"_s };
}

// A SoundFont chosen while a song plays: the song goes on, its next note sounds as with that
// SoundFont from the start, and nothing is read from disk while it plays. One that cannot be
// used is said once, with FluidSynth's own reason, and the sound stays as it was.
void TestSequencerDevice::soundFontSwitches()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, said);
    const QString fluid = u"/usr/share/sounds/sf2/FluidR3_GM.sf2"_s;
    const QString wanted = said.isEmpty() ? chosen.last() : fluid;
    // A piano from 0 to 300 ms, a violin from 800 to 1100 ms; the choice comes at 500 ms.
    Track track;
    track.noteOn(0, 0, 60).noteOff(300, 0, 60).program(400, 0, 40).noteOn(100, 0, 67);
    const QString song = write(u"two notes.mid"_s, track.noteOff(300, 0, 67).endOfTrack().song());
    TestDevice device(Output::Offline), before(Output::Offline), after(Output::Offline);
    QStringList shown;
    device.setMessageHandler([&shown](const QString &text) { shown.append(text); });
    for (auto [each, font] : { std::pair(&device, fluid), { &before, fluid }, { &after, wanted } })
        QVERIFY((*each)(u"set canyon soundfont "_s + font) == 0 && each->open(song) == 0
            && (*each)(u"play canyon"_s) == 0);
    std::uint64_t read = 0;
    float nearBefore = 0, nearAfter = 0;
    for (int rendered = 0; device.mode() == u"playing"_s; rendered += Block) {
        if (rendered == 500 * Rate / 1000 / Block * Block) {
            for (const QString &path : chosen) {
                QCOMPARE(device(u"set canyon soundfont "_s + path), 0u);
                device.finishWork();
            }
            read = SequencerDevice::soundFontBytesRead();
        }
        const std::vector<float> mine = device.render(Block), was = before.render(Block),
                                 will = after.render(Block);
        for (std::size_t i = 0; i < mine.size() && rendered >= 800 * Rate / 1000; ++i) {
            nearBefore += std::abs(mine[i] - was[i]);
            nearAfter += std::abs(mine[i] - will[i]);
        }
        QVERIFY(rendered >= 500 * Rate / 1000 || mine == was);
    }
    QCOMPARE(SequencerDevice::soundFontBytesRead(), read);
    QCOMPARE(device.status(u"soundfont"_s), wanted);
    QVERIFY2(said.isEmpty() ? nearAfter < nearBefore / 100 : nearBefore == 0.0f,
        qPrintable(u"%1 from the old sound, %2 from the new"_s.arg(nearBefore).arg(nearAfter)));
    QCOMPARE(shown.size(), said.size());
    for (qsizetype i = 0; i < said.size(); ++i)
        QVERIFY2(
            shown[i].contains(chosen[i] + u" cannot be used: "_s) && shown[i].contains(said[i]),
            qPrintable(shown[i]));
}

QTEST_GUILESS_MAIN(TestSequencerDevice)
#include "test_sequencer_device.moc"
