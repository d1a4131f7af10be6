#include "platform/sequencer_device.h"
#include "tests/support/smf_builder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

// The device with a real audio thread: FluidSynth's file driver renders in real time into
// fluidsynth.wav in the working folder while commands come from this thread. Built with
// ThreadSanitizer by the test command.
namespace {

QString open(const QString &path)
{
    return QStringLiteral("open ") + path + QStringLiteral(" type sequencer alias canyon");
}

std::uint32_t send(SequencerDevice &device, const char *command)
{
    return device.sendCommand(QString::fromLatin1(command), nullptr, 0);
}

QString mode(SequencerDevice &device)
{
    QString reply;
    if (device.sendCommand(QStringLiteral("status canyon mode"), &reply, 128) != 0)
        return QStringLiteral("failed");
    return reply;
}

int taskCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

} // namespace

class TestDeviceThreads : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void openPlayCloseCycles();
    void playsToItsEndAndAgain();
    void destroyedWhilePlaying();

private:
    QTemporaryDir m_dir;
    QString m_previous;
    QString m_long;
    QString m_short;
};

void TestDeviceThreads::initTestCase()
{
    if (SequencerDevice::soundFontPath().isEmpty())
        QSKIP("no SoundFont installed");
    QVERIFY(m_dir.isValid());
    qputenv("QUAVREL_AUDIO_DRIVER", "file");
    m_previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    m_long = m_dir.filePath(QStringLiteral("long.mid"));
    m_short = m_dir.filePath(QStringLiteral("short.mid"));
    QVERIFY(SmfBuilder::writeFile(m_long, SmfBuilder::oneNoteSong(5000, 5000)));
    QVERIFY(SmfBuilder::writeFile(m_short, SmfBuilder::oneNoteSong(30, 40)));
}

void TestDeviceThreads::cleanupTestCase()
{
    QDir::setCurrent(m_previous);
}

void TestDeviceThreads::openPlayCloseCycles()
{
    // Closes land at every moment of the audio thread's life: at once, while it renders, while
    // the status is read, and just after the song's end.
    SequencerDevice device(SequencerDevice::Output::Audio);
    QCOMPARE(device.sendCommand(open(m_long), nullptr, 0), 0u);
    QCOMPARE(send(device, "close canyon"), 0u);
    const int idle = taskCount();
    for (int cycle = 0; cycle < 300; ++cycle) {
        const bool toEnd = cycle % 25 == 0;
        QCOMPARE(device.sendCommand(open(toEnd ? m_short : m_long), nullptr, 0), 0u);
        QCOMPARE(send(device, "play canyon"), 0u);
        QCOMPARE(mode(device), QStringLiteral("playing"));
        if (toEnd) {
            QTRY_COMPARE_WITH_TIMEOUT(mode(device), QStringLiteral("stopped"), 5000);
        } else {
            for (int i = 0; i < cycle % 4; ++i) {
                QCOMPARE(mode(device), QStringLiteral("playing"));
                QThread::usleep(700 * (cycle % 7));
            }
        }
        QCOMPARE(send(device, "close canyon"), 0u);
        QCOMPARE(taskCount(), idle);
    }
    QVERIFY(QFileInfo(m_dir.filePath(QStringLiteral("fluidsynth.wav"))).size() > 44);
}

void TestDeviceThreads::playsToItsEndAndAgain()
{
    // A song played to its end starts again from the beginning on the next play, with a fresh
    // player and audio thread while the old thread may still be rendering silence.
    SequencerDevice device(SequencerDevice::Output::Audio);
    QCOMPARE(device.sendCommand(open(m_short), nullptr, 0), 0u);
    for (int round = 0; round < 20; ++round) {
        QCOMPARE(send(device, "play canyon"), 0u);
        QCOMPARE(mode(device), QStringLiteral("playing"));
        // Playing again while playing changes nothing.
        QCOMPARE(send(device, "play canyon"), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(mode(device), QStringLiteral("stopped"), 5000);
    }
    QCOMPARE(send(device, "close canyon"), 0u);
}

void TestDeviceThreads::destroyedWhilePlaying()
{
    for (int round = 0; round < 6; ++round) {
        auto device = std::make_unique<SequencerDevice>(SequencerDevice::Output::Audio);
        QCOMPARE(device->sendCommand(open(m_long), nullptr, 0), 0u);
        QCOMPARE(send(*device, "play canyon"), 0u);
        QThread::usleep(1000 * (round % 5));
        device.reset();
    }
}

QTEST_GUILESS_MAIN(TestDeviceThreads)
#include "test_device_threads.moc"
