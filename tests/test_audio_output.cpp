#include "tests/support/smf_builder.h"
#include "tests/support/test_device.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The device's own PulseAudio output against a real server: a private PulseAudio with a null sink,
// whose monitor is recorded. Also built with ThreadSanitizer by the test command.
class TestAudioOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_server.kill(), m_server.waitForFinished(); }
    void playsToItsEndAndClosesSilent();
    void preparedWhileCommandsCome();

private:
    // How many lines pactl prints.
    static int lines(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("pactl"), arguments);
        return process.waitForFinished() ? int(process.readAllStandardOutput().count('\n')) : 0;
    }
    // A song of one note, as long as the song.
    QString song(int ms) const
    {
        const QString path = m_dir.filePath(QStringLiteral("%1.mid").arg(ms));
        return SmfBuilder::writeFile(path, SmfBuilder::oneNoteSong(ms, ms)) ? path : QString();
    }

    QTemporaryDir m_dir;
    QProcess m_server;
};

void TestAudioOutput::initTestCase()
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty()
        || QStandardPaths::findExecutable("parec").isEmpty())
        QSKIP("needs pulseaudio and pulseaudio-utils (pulseaudio, pactl, parec)");
    if (SequencerDevice::soundFontPath().isEmpty())
        QSKIP("no SoundFont installed");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    qunsetenv("PULSE_SERVER");
    qunsetenv("QUAVREL_AUDIO_DRIVER");
    m_server.start(QStringLiteral("pulseaudio"),
        { "-n", "--daemonize=no", "--exit-idle-time=-1", "--load=module-native-protocol-unix",
            "--load=module-null-sink sink_name=test" });
    QTRY_VERIFY_WITH_TIMEOUT(lines({ "info" }) > 0, 10000);
}

void TestAudioOutput::playsToItsEndAndClosesSilent()
{
    QProcess recorder;
    recorder.start(QStringLiteral("parec"),
        { "-d", "test.monitor", "--raw", "--format=s16le", "--channels=1", "--latency-msec=10" });
    QTRY_COMPARE(lines({ "list", "source-outputs", "short" }), 1);
    TestDevice device(SequencerDevice::Output::Audio);
    QCOMPARE(device.open(song(400)), 0u);
    QCOMPARE(device(QStringLiteral("play canyon")), 0u);
    QCOMPARE(device.mode(), QStringLiteral("playing"));
    QCOMPARE(lines({ "list", "sink-inputs", "short" }), 1);
    QTRY_COMPARE_WITH_TIMEOUT(device.mode(), QStringLiteral("stopped"), 10000);
    recorder.terminate(), recorder.waitForFinished();
    const QByteArray sound = recorder.readAllStandardOutput();
    const auto *at = reinterpret_cast<const qint16 *>(sound.constData());
    QVERIFY(std::any_of(at, at + sound.size() / 2, [](qint16 s) { return qAbs(s) > 1000; }));
    // Played again from its start and closed while it plays: no stream is left to reach the sink.
    QCOMPARE(device(QStringLiteral("play canyon")), 0u);
    QCOMPARE(device(QStringLiteral("close canyon")), 0u);
    QCOMPARE(lines({ "list", "sink-inputs", "short" }), 0);
}

void TestAudioOutput::preparedWhileCommandsCome()
{
    // The preparing thread meets a close at once (as at start-up), an open, and the device's end.
    for (int round = 0; round < 4; ++round) {
        TestDevice device(SequencerDevice::Output::Audio);
        device.prepare();
        QCOMPARE(device(QStringLiteral("close canyon")), 0u);
        if (round % 2)
            continue;
        QCOMPARE(device.open(song(5000)), 0u);
        QCOMPARE(device(QStringLiteral("play canyon")), 0u);
        QCOMPARE(device.mode(), QStringLiteral("playing"));
    }
}

QTEST_GUILESS_MAIN(TestAudioOutput)
#include "test_audio_output.moc"
