#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "platform/sequencer_command.h"
#include "platform/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sys/stat.h>

namespace {

// About 10 ms; a multiple of the synthesizer's 64-frame step, so that no block holds frames
// rendered before the previous command.
constexpr int Block = 448;

float peak(const std::vector<float> &samples)
{
    float loudest = 0;
    for (const float sample : samples)
        loudest = std::max(loudest, std::abs(sample));
    return loudest;
}

QString open(const QString &path)
{
    return QStringLiteral("open ") + path + QStringLiteral(" type sequencer alias canyon");
}

QString mode(SequencerDevice &device, std::uint32_t *result = nullptr)
{
    QString reply = QStringLiteral("untouched");
    const std::uint32_t code
        = device.sendCommand(QStringLiteral("status canyon mode"), &reply, 128);
    if (result)
        *result = code;
    return reply;
}

int taskCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

class TestSequencerDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void commandGrammar_data();
    void commandGrammar();
    void pathsInTheOpenCommand();
    void nothingOpen();
    void playsUntilLastEventThenStops();
    void closeSilencesAtOnce();
    void aliasRules();
    void badFilesFailAtOpen_data();
    void badFilesFailAtOpen();
    void realSongsPlayAndEnd_data();
    void realSongsPlayAndEnd();
    void noAudioOutputIsReportedOnce();
    void audioThreadOnlyWhilePlaying();
    void brokenSoundFontIsSaidOnceAndReplaced();

private:
    bool haveSoundFont() const { return !SequencerDevice::soundFontPath().isEmpty(); }
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_dir;
    std::unique_ptr<SequencerDevice> m_device;
};

void TestSequencerDevice::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_device = std::make_unique<SequencerDevice>(SequencerDevice::Output::Offline);
}

QString TestSequencerDevice::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    if (!SmfBuilder::writeFile(path, bytes))
        return {};
    return path;
}

void TestSequencerDevice::commandGrammar_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("verb");
    QTest::addColumn<QString>("path");
    using Verb = SequencerCommand::Verb;
    QTest::newRow("open") << "open /m/a.mid type sequencer alias canyon" << int(Verb::Open)
                          << "/m/a.mid";
    QTest::newRow("open any case")
        << "OPEN /m/A.MID Type SEQUENCER Alias CANYON" << int(Verb::Open) << "/m/A.MID";
    QTest::newRow("spaces, commas and type in path")
        << "open /my songs/a, b type c.mid type sequencer alias canyon" << int(Verb::Open)
        << "/my songs/a, b type c.mid";
    QTest::newRow("quoted path") << "open \"/my songs/ü.mid\" type sequencer alias canyon"
                                 << int(Verb::Open) << "/my songs/ü.mid";
    QTest::newRow("no path") << "open  type sequencer alias canyon" << int(Verb::Open) << "";
    QTest::newRow("play") << "play canyon" << int(Verb::Play) << "";
    QTest::newRow("close any case") << "CLOSE Canyon" << int(Verb::Close) << "";
    QTest::newRow("status") << "Status canyon MODE" << int(Verb::Status) << "";
    QTest::newRow("empty") << "" << int(Verb::Invalid) << "";
    QTest::newRow("play alone") << "play" << int(Verb::Invalid) << "";
    QTest::newRow("play from") << "play canyon from 0" << int(Verb::Invalid) << "";
    QTest::newRow("stop") << "stop canyon" << int(Verb::Invalid) << "";
    QTest::newRow("status position") << "status canyon position" << int(Verb::Invalid) << "";
    QTest::newRow("open no type") << "open /m/a.mid alias canyon" << int(Verb::Invalid) << "";
    QTest::newRow("open other type")
        << "open /m/a.mid type waveaudio alias canyon" << int(Verb::Invalid) << "";
    QTest::newRow("open no alias") << "open /m/a.mid type sequencer" << int(Verb::Invalid) << "";
}

void TestSequencerDevice::commandGrammar()
{
    QFETCH(QString, command);
    QFETCH(int, verb);
    QFETCH(QString, path);
    const SequencerCommand parsed = parseSequencerCommand(command);
    QCOMPARE(int(parsed.verb), verb);
    QCOMPARE(parsed.path, path);
    if (parsed.verb != SequencerCommand::Verb::Invalid)
        QCOMPARE(parsed.alias.toLower(), QStringLiteral("canyon"));
    else
        QVERIFY(m_device->sendCommand(command, nullptr, 0) != 0);
}

void TestSequencerDevice::pathsInTheOpenCommand()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    QVERIFY(m_dir.path().length() > 0);
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("my songs, new")));
    const QByteArray song = SmfBuilder::oneNoteSong(500, 500);
    for (const QString &name : { QStringLiteral("my songs, new/Für Elise type 2.mid"),
             QStringLiteral("my songs, new/日本.MID") }) {
        const QString path = write(name, song);
        QVERIFY(!path.isEmpty());
        for (const QString &form : { path, QLatin1Char('"') + path + QLatin1Char('"') }) {
            QCOMPARE(m_device->sendCommand(open(form), nullptr, 0), 0u);
            QCOMPARE(m_device->sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
        }
    }
}

void TestSequencerDevice::nothingOpen()
{
    SequencerDevice device(SequencerDevice::Output::Offline);
    std::uint32_t code = 0;
    QCOMPARE(mode(device, &code), QStringLiteral("untouched"));
    QVERIFY(code != 0);
    QVERIFY(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0);
    QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
    QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
    // No synthesizer yet: nothing to render.
    QCOMPARE(peak(device.render(Block)), 0.0f);
}

void TestSequencerDevice::playsUntilLastEventThenStops()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    SequencerDevice &device = *m_device;
    // One note from 0 to 500 ms, End of Track at 1000 ms.
    const QString path = write(QStringLiteral("one note.mid"), SmfBuilder::oneNoteSong(500, 1000));
    QCOMPARE(device.sendCommand(open(path), nullptr, 0), 0u);
    QCOMPARE(mode(device), QStringLiteral("stopped"));
    QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
    QCOMPARE(mode(device), QStringLiteral("playing"));

    // A short reply buffer cuts the answer.
    QString reply;
    QCOMPARE(device.sendCommand(QStringLiteral("status canyon mode"), &reply, 4), 0u);
    QCOMPARE(reply, QStringLiteral("pla"));

    int rendered = 0;
    float notePeak = 0;
    float afterNote = 0;
    while (
        mode(device) == QStringLiteral("playing") && rendered < 5 * SequencerDevice::SampleRate) {
        float &loudest = rendered < SequencerDevice::SampleRate / 2 ? notePeak : afterNote;
        loudest = std::max(loudest, peak(device.render(Block)));
        rendered += Block;
    }
    // Stopped in the first block at or after 1000 ms (the player advances in 64-frame steps).
    const int end = SequencerDevice::SampleRate;
    QVERIFY2(rendered >= end && rendered < end + Block + 64, qPrintable(QString::number(rendered)));
    QVERIFY(notePeak > 0.05f);
    QVERIFY(afterNote < notePeak);
    QCOMPARE(mode(device), QStringLiteral("stopped"));

    // Play after the end starts the song again from its beginning.
    QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
    QCOMPARE(mode(device), QStringLiteral("playing"));
    QVERIFY(peak(device.render(4 * Block)) > 0.05f);
    QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
    std::uint32_t code = 0;
    mode(device, &code);
    QVERIFY(code != 0);
}

void TestSequencerDevice::closeSilencesAtOnce()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    SequencerDevice &device = *m_device;
    const QString path
        = write(QStringLiteral("long note.mid"), SmfBuilder::oneNoteSong(5000, 5000));
    QCOMPARE(device.sendCommand(open(path), nullptr, 0), 0u);
    QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
    QVERIFY(peak(device.render(20 * Block)) > 0.05f);
    QCOMPARE(mode(device), QStringLiteral("playing"));
    QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
    QCOMPARE(peak(device.render(Block)), 0.0f);
}

void TestSequencerDevice::aliasRules()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    SequencerDevice &device = *m_device;
    const QString first = write(QStringLiteral("first.mid"), SmfBuilder::oneNoteSong(2000, 2000));
    const QString second = write(QStringLiteral("second.mid"), SmfBuilder::oneNoteSong(500, 500));
    QVERIFY(device.sendCommand(
                open(first).replace(QStringLiteral("canyon"), QStringLiteral("other")), nullptr, 0)
        != 0);
    QCOMPARE(device.sendCommand(open(first), nullptr, 0), 0u);
    QCOMPARE(device.sendCommand(QStringLiteral("play CANYON"), nullptr, 0), 0u);
    device.render(10 * Block);
    // An open over the open alias fails and changes nothing: the first song plays on.
    QCOMPARE(device.sendCommand(open(second), nullptr, 0), SequencerDevice::AliasInUse);
    QVERIFY(device.sendCommand(QStringLiteral("play other"), nullptr, 0) != 0);
    QVERIFY(device.sendCommand(QStringLiteral("close other"), nullptr, 0) != 0);
    QVERIFY(device.sendCommand(QStringLiteral("status other mode"), nullptr, 0) != 0);
    QCOMPARE(mode(device), QStringLiteral("playing"));
    for (int i = 0; i < 120; ++i)
        device.render(Block);
    // Still the two-second song, not the half-second one.
    QCOMPARE(mode(device), QStringLiteral("playing"));
    QCOMPARE(device.sendCommand(QStringLiteral("Close Canyon"), nullptr, 0), 0u);
}

void TestSequencerDevice::badFilesFailAtOpen_data()
{
    QTest::addColumn<QString>("path");
    const QString dir = m_dir.path();
    QTest::newRow("missing") << dir + QStringLiteral("/no such song.mid");
    QTest::newRow("missing folder") << dir + QStringLiteral("/no such folder/song.mid");
    QTest::newRow("empty path") << QString();
    QTest::newRow("folder") << dir;
    QTest::newRow("device") << QStringLiteral("/dev/zero");
    const QString fifo = dir + QStringLiteral("/pipe.mid");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    QTest::newRow("fifo") << fifo;
    QTest::newRow("0 bytes") << write(QStringLiteral("empty.mid"), QByteArray());
    QTest::newRow("text") << write(QStringLiteral("text.mid"), "This is not a song.\n");
    SmfBuilder::Track track;
    track.noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    QTest::newRow("track past end") << write(QStringLiteral("cut.mid"),
        SmfBuilder::header(0, 1, 96) + SmfBuilder::chunk("MTrk", track.body, 99));
    QTest::newRow("negative chunk") << write(QStringLiteral("negative.mid"),
        SmfBuilder::header(0, 1, 96) + SmfBuilder::chunk("JUNK", "", 0xFFFFFFF8u) + track.chunk());
    QTest::newRow("division 0") << write(
        QStringLiteral("div0.mid"), SmfBuilder::header(0, 1, 0) + track.chunk());
    QTest::newRow("shared bad") << QStringLiteral(
        QUAVREL_SHARED_DIR "/midi/bad/midly__PiDamaged.mid");
}

void TestSequencerDevice::badFilesFailAtOpen()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    QFETCH(QString, path);
    SequencerDevice &device = *m_device;
    QVERIFY(device.sendCommand(open(path), nullptr, 0) != 0);
    // Nothing is left open: play and status fail as well.
    QVERIFY(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0);
    std::uint32_t code = 0;
    QCOMPARE(mode(device, &code), QStringLiteral("untouched"));
    QVERIFY(code != 0);
    // And the alias is free for a good song.
    const QString good = write(QStringLiteral("good.mid"), SmfBuilder::oneNoteSong(500, 500));
    QCOMPARE(device.sendCommand(open(good), nullptr, 0), 0u);
    QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
}

void TestSequencerDevice::realSongsPlayAndEnd_data()
{
    QTest::addColumn<QString>("path");
    for (const char *folder : { "real", "bad" }) {
        const QDir dir(QStringLiteral(QUAVREL_SHARED_DIR "/midi/") + QLatin1String(folder));
        for (const QString &name : dir.entryList({ QStringLiteral("*.mid") }, QDir::Files))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
}

void TestSequencerDevice::realSongsPlayAndEnd()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    QFETCH(QString, path);
    const QByteArray bytes = SmfBuilder::readFile(path);
    const Smf::ReadResult read = Smf::readSong(
        { reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size()) });
    SequencerDevice &device = *m_device;
    const std::uint32_t opened = device.sendCommand(open(path), nullptr, 0);
    if (!read.error.empty()) {
        QVERIFY(opened != 0);
        return;
    }
    QCOMPARE(opened, 0u);
    const double endSeconds = Smf::canonicalSong(read.song).endSeconds;
    QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
    // Songs of more than two minutes play their first 30 s here; their end is found as any
    // other's, from the time the reader gives.
    const bool toTheEnd = endSeconds <= 120;
    const int limit = toTheEnd ? int(endSeconds * SequencerDevice::SampleRate) + 2 * Block + 64
                               : 30 * SequencerDevice::SampleRate;
    int rendered = 0;
    float loudest = 0;
    while (mode(device) == QStringLiteral("playing") && rendered <= limit) {
        loudest = std::max(loudest, peak(device.render(Block)));
        rendered += Block;
    }
    if (!toTheEnd) {
        QCOMPARE(mode(device), QStringLiteral("playing"));
        QVERIFY(loudest > 0.01f);
        QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
        return;
    }
    QCOMPARE(mode(device), QStringLiteral("stopped"));
    QVERIFY2(std::abs(rendered - endSeconds * SequencerDevice::SampleRate) <= Block + 64,
        qPrintable(QStringLiteral("%1 frames for %2 s").arg(rendered).arg(endSeconds)));
    if (read.song.events.size() > 20)
        QVERIFY(loudest > 0.01f);
    QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
}

void TestSequencerDevice::noAudioOutputIsReportedOnce()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    const ScopedEnv driver("QUAVREL_AUDIO_DRIVER", "no-such-driver");
    SequencerDevice device(SequencerDevice::Output::Audio);
    QStringList shown;
    device.setNoAudioHandler([&shown](const QString &text) { shown.append(text); });
    const QString path = write(QStringLiteral("quiet.mid"), SmfBuilder::oneNoteSong(500, 500));
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^Quavrel: no audio output")));
    for (int attempt = 0; attempt < 3; ++attempt) {
        QCOMPARE(device.sendCommand(open(path), nullptr, 0), 0u);
        QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0),
            SequencerDevice::NoAudioOutput);
        QCOMPARE(mode(device), QStringLiteral("stopped"));
        QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
    }
    QCOMPARE(shown.size(), 1);
    const QStringList lines = shown.first().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(
        lines[0], QStringLiteral("No audio output could be opened, so songs cannot be heard."));
    QVERIFY2(lines[1].contains(QStringLiteral("no-such-driver")), qPrintable(lines[1]));
}

void TestSequencerDevice::audioThreadOnlyWhilePlaying()
{
    if (!haveSoundFont())
        QSKIP("no SoundFont installed");
    // FluidSynth's file driver renders in real time into a WAV file, on its own thread.
    const ScopedEnv driver("QUAVREL_AUDIO_DRIVER", "file");
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const QString wav = m_dir.filePath(QStringLiteral("fluidsynth.wav"));
    QFile::remove(wav);
    {
        SequencerDevice device(SequencerDevice::Output::Audio);
        const QString path = write(QStringLiteral("short.mid"), SmfBuilder::oneNoteSong(300, 300));
        QCOMPARE(device.sendCommand(open(path), nullptr, 0), 0u);
        // Loading the SoundFont may leave an idle OpenMP worker of FluidSynth's loader; an open
        // song starts no thread.
        const int idle = taskCount();
        QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
        QVERIFY(taskCount() > idle);
        QCOMPARE(mode(device), QStringLiteral("playing"));
        QTRY_COMPARE_WITH_TIMEOUT(mode(device), QStringLiteral("stopped"), 5000);
        QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
        QCOMPARE(taskCount(), idle);
    }
    QVERIFY(QDir::setCurrent(previous));
    // The file holds the note: 16-bit samples after a 44-byte header.
    const QByteArray audio = SmfBuilder::readFile(wav);
    QVERIFY(audio.size() > 44 + 4 * SequencerDevice::SampleRate / 4);
    int loudest = 0;
    for (qsizetype i = 44; i + 1 < audio.size(); i += 2)
        loudest = std::max(
            loudest, std::abs(int(qint16(quint8(audio[i]) | quint8(audio[i + 1]) << 8))));
    QVERIFY(loudest > 1000);
}

// A SoundFont named by QUAVREL_SOUNDFONT that is missing, a FIFO, a text or a cut file is said
// once, with the file and what is wrong with it, and songs sound with the system's instead.
void TestSequencerDevice::brokenSoundFontIsSaidOnceAndReplaced()
{
    const QString system = SequencerDevice::soundFontPath();
    if (system.isEmpty())
        QSKIP("no SoundFont installed");
    QFile whole(system);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QString cut = write(QStringLiteral("cut.sf2"), whole.read(100000));
    const QString text = write(QStringLiteral("text.sf2"), "RIFF is what a SoundFont starts with");
    const QString fifo = m_dir.filePath(QStringLiteral("fifo.sf2"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString song = write(QStringLiteral("fallback.mid"), SmfBuilder::oneNoteSong(500, 500));
    for (const QString &broken : { m_dir.filePath(QStringLiteral("none.sf2")), fifo, text, cut }) {
        const ScopedEnv chosen("QUAVREL_SOUNDFONT", QFile::encodeName(broken));
        SequencerDevice device(SequencerDevice::Output::Offline);
        QStringList shown;
        device.setNoAudioHandler([&shown](const QString &message) { shown.append(message); });
        for (int attempt = 0; attempt < 2; ++attempt) {
            QCOMPARE(device.sendCommand(open(song), nullptr, 0), 0u);
            QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
            QVERIFY(peak(device.render(20 * Block)) > 0.05f);
            QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
        }
        QCOMPARE(shown.size(), 1);
        const QString &message = shown[0];
        QVERIFY2(message.contains(broken) && message.contains(system)
                && message.contains(QStringLiteral("QUAVREL_SOUNDFONT to")),
            qPrintable(message));
    }
}

QTEST_GUILESS_MAIN(TestSequencerDevice)
#include "test_sequencer_device.moc"
