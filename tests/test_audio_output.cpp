#include "tests/support/smf_builder.h"
#include "tests/support/test_device.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The device's own PulseAudio output against a real server: a private PulseAudio with a null sink,
// whose monitor is recorded, and which the tests stop, freeze and start again. Also built with
// ThreadSanitizer by the test command.
class TestAudioOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { stopServer(); }
    void playsToItsEndAndClosesSilent();
    void preparedWhileCommandsCome();
    void serverAwayAndBack_data();
    void serverAwayAndBack();

private:
    // How many lines pactl prints.
    static int lines(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("pactl"), arguments);
        return process.waitForFinished() ? int(process.readAllStandardOutput().count('\n')) : 0;
    }
    void startServer()
    {
        m_server.start(QStringLiteral("pulseaudio"),
            { "-n", "--daemonize=no", "--exit-idle-time=-1", "--load=module-native-protocol-unix",
                "--load=module-null-sink sink_name=test" });
        QTRY_VERIFY_WITH_TIMEOUT(lines({ "info" }) > 0, 10000);
    }
    // Killed, as a crash or a restart ends it: its socket stays behind.
    void stopServer() { m_server.kill(), m_server.waitForFinished(); }
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
    startServer();
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
    QTRY_COMPARE(lines({ "list", "sink-inputs", "short" }), 1);
    QTRY_COMPARE_WITH_TIMEOUT(device.mode(), QStringLiteral("stopped"), 10000);
    recorder.terminate(), recorder.waitForFinished();
    const QByteArray sound = recorder.readAllStandardOutput();
    const auto *at = reinterpret_cast<const qint16 *>(sound.constData());
    QVERIFY(std::any_of(at, at + sound.size() / 2, [](qint16 s) { return qAbs(s) > 1000; }));
    // Played again from its start and closed while it plays: no stream is left to reach the sink.
    QCOMPARE(device(QStringLiteral("play canyon")), 0u);
    QCOMPARE(device(QStringLiteral("close canyon")), 0u);
    QTRY_COMPARE(lines({ "list", "sink-inputs", "short" }), 0);
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

void TestAudioOutput::serverAwayAndBack_data()
{
    QTest::addColumn<int>("signal"); // how the server goes: killed, or stopped without answering
    QTest::addColumn<int>("atMs"); // where in the song; at 0 it is away before the song plays
    QTest::addColumn<int>("awayMs");
    QTest::newRow("restarted") << SIGKILL << 1500 << 1000;
    QTest::newRow("not answering") << SIGSTOP << 1500 << 3000;
    QTest::newRow("not up yet") << SIGKILL << 0 << 1000;
    QTest::newRow("away long") << SIGKILL << 1000 << SequencerDevice::ServerPatienceMs + 1000;
}

// A server that goes away, or stops answering, holds the song where its sound stopped, and
// nothing waits for it; once it is back the stream is on it again at once, and the song goes on
// from there. Only an absence longer than the device's patience is said.
void TestAudioOutput::serverAwayAndBack()
{
    QFETCH(int, signal);
    QFETCH(int, atMs);
    QFETCH(int, awayMs);
    TestDevice device(SequencerDevice::Output::Audio);
    QStringList said;
    device.setMessageHandler([&said](const QString &text) { said.append(text); });
    const auto position = [&device] {
        QString reply;
        device.sendCommand(QStringLiteral("status canyon position"), &reply, 128);
        return reply.toInt();
    };
    if (atMs == 0)
        stopServer();
    QCOMPARE(device.open(song(60000)), 0u);
    QCOMPARE(device(QStringLiteral("play canyon")), 0u);
    if (atMs > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(position() >= atMs, 10000);
        signal == SIGSTOP ? void(::kill(pid_t(m_server.processId()), SIGSTOP)) : stopServer();
    }
    const int stoppedAt = position();
    QElapsedTimer away;
    away.start();
    if (awayMs > SequencerDevice::ServerPatienceMs)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Quavrel: no audio output"_qs));
    while (!away.hasExpired(awayMs)) {
        // Commands answer at once: a wait for the server would last 30 s or for ever.
        QElapsedTimer command;
        command.start();
        QCOMPARE(device.mode(), QStringLiteral("playing"));
        QVERIFY(command.elapsed() < 2000);
        QTest::qWait(100);
    }
    signal == SIGSTOP ? void(::kill(pid_t(m_server.processId()), SIGCONT)) : startServer();
    QElapsedTimer back;
    back.start();
    QTRY_COMPARE_WITH_TIMEOUT(lines({ "list", "sink-inputs", "short" }), 1, 10000);
    QVERIFY2(back.elapsed() < 2000, qPrintable(QString::number(back.elapsed())));
    // What the server had queued is lost, at most.
    QTRY_VERIFY_WITH_TIMEOUT(position() > stoppedAt + 100, 10000);
    QVERIFY2(position() < stoppedAt + 600 + back.elapsed(),
        qPrintable(QStringLiteral("%1 after %2").arg(position()).arg(stoppedAt)));
    QCOMPARE(said.size(), awayMs > SequencerDevice::ServerPatienceMs ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestAudioOutput)
#include "test_audio_output.moc"
