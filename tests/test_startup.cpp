#include "tests/support/files.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The real program, run and closed by a signal.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void programWritesEntryBackWhenClosed();

private:
    QTemporaryDir m_dir;
};

// The real program, started offscreen with its own settings folder, reopens the album that its
// entry names and writes the entry back, spaces and all, when it is asked to close.
void TestStartup::programWritesEntryBackWhenClosed()
{
    const QString program = QStringLiteral(QUAVREL_BINARY_DIR "/quavrel");
    QVERIFY(QFileInfo(program).isExecutable());
    QTemporaryDir config;
    QVERIFY(config.isValid());
    const QString conf = config.filePath(QStringLiteral("Quavrel/Quavrel.conf"));

    const auto runAndClose = [&] {
        QProcess quavrel;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QUAVREL_AUDIO_DRIVER"), QStringLiteral("file"));
        quavrel.setProcessEnvironment(environment);
        quavrel.setProcessChannelMode(QProcess::ForwardedChannels);
        quavrel.start(program, {});
        QVERIFY(quavrel.waitForStarted());
        // The program catches SIGTERM once its window has loaded; wait for that before asking.
        const QString status = QStringLiteral("/proc/%1/status").arg(quavrel.processId());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QByteArray &line : TestFiles::read(status).split('\n')) {
                    if (line.startsWith("SigCgt:"))
                        return (line.mid(7).trimmed().toULongLong(nullptr, 16)
                                   & (1ULL << (SIGTERM - 1)))
                            != 0;
                }
                return false;
            }(),
            60000);
        QCOMPARE(::kill(pid_t(quavrel.processId()), SIGTERM), 0);
        QVERIFY(quavrel.waitForFinished(60000));
        QCOMPARE(quavrel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quavrel.exitCode(), 0);
    };

    // First run: no entry; the caption "?" makes the close write the empty path.
    runAndClose();
    QCOMPARE(QSettings(conf, QSettings::IniFormat).value(QStringLiteral("Startup/Album")),
        QVariant(QString()));

    // An entry in spaces naming an album, written by hand with a comment that a rewrite drops.
    const QString album = m_dir.filePath(QStringLiteral("Program, Run.alp"));
    QVERIFY(TestFiles::write(album, "/m/a.mid\r\n"));
    const QString entry = QStringLiteral(" %1  ").arg(album);
    QVERIFY(TestFiles::write(
        conf, "; written by the test\n[Startup]\nAlbum=\"" + entry.toUtf8() + "\"\n"));
    runAndClose();
    const QByteArray written = TestFiles::read(conf);
    QVERIFY2(!written.contains("; written by the test"), written.constData());
    QCOMPARE(
        QSettings(conf, QSettings::IniFormat).value(QStringLiteral("Startup/Album")).toString(),
        entry);
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
