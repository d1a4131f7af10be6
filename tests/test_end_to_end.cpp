#include "tests/support/smf_builder.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>

#include <cstdlib>

// The real program on a real X server: it opens the remembered album, plays it on Alt+P into
// FluidSynth's file driver, and on a window-close request writes the album entry back and ends.
class EndToEndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void playsRememberedAlbumAndClosesCleanly();

private:
    QString run(const QStringList &xdotoolArguments, int timeoutMs = 10000);
    QString windowName(const QString &window) { return run({ QStringLiteral("getwindowname"), window }); }
    bool waitForWindowName(const QString &window, const QString &name, int timeoutMs);
    void requestClose(const QString &window);

    QProcess xvfb;
    QString display;
};

void EndToEndTest::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs Xvfb and xdotool (packages xvfb and xdotool)");
    // Xvfb picks a free display and writes its number to standard output.
    xvfb.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
            QStringLiteral("640x480x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp") });
    QVERIFY(xvfb.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!xvfb.canReadLine() && waited.elapsed() < 15000)
        xvfb.waitForReadyRead(500);
    display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine().trimmed());
    QVERIFY2(display.size() > 1, "Xvfb gave no display number");
}

void EndToEndTest::cleanupTestCase()
{
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }
}

QString EndToEndTest::run(const QStringList &xdotoolArguments, int timeoutMs)
{
    QProcess xdotool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    xdotool.setProcessEnvironment(environment);
    xdotool.start(QStringLiteral("xdotool"), xdotoolArguments);
    if (!xdotool.waitForFinished(timeoutMs)) {
        xdotool.kill();
        xdotool.waitForFinished();
        return {};
    }
    return QString::fromUtf8(xdotool.readAllStandardOutput()).trimmed();
}

bool EndToEndTest::waitForWindowName(const QString &window, const QString &name, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (windowName(window) == name)
            return true;
        QTest::qWait(100);
    }
    return false;
}

// What a window manager sends when the user clicks the close button.
void EndToEndTest::requestClose(const QString &window)
{
    Display *connection = XOpenDisplay(display.toLatin1().constData());
    QVERIFY(connection != nullptr);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window.toULong());
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, event.xclient.window, False, NoEventMask, &event);
    XFlush(connection);
    XCloseDisplay(connection);
}

// 16-bit samples after the 44-byte header: is any of them clearly above silence?
static bool hasSound(const QString &wavPath)
{
    QFile wav(wavPath);
    if (!wav.open(QIODevice::ReadOnly) || wav.size() <= 44)
        return false;
    const QByteArray data = wav.readAll().mid(44);
    const auto *samples = reinterpret_cast<const qint16 *>(data.constData());
    for (qsizetype i = 0; i < data.size() / 2; ++i) {
        if (std::abs(int(samples[i])) > 300)
            return true;
    }
    return false;
}

void EndToEndTest::playsRememberedAlbumAndClosesCleanly()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString songs = work.filePath(QStringLiteral("my songs"));
    QVERIFY(QDir().mkpath(songs));
    const QString first = songs + QStringLiteral("/First Tune.mid");
    const QString second = songs + QStringLiteral("/Second.mid");
    QVERIFY(SmfBuilder::writeFile(first, SmfBuilder::oneNoteSong(1200, 1500)));
    QVERIFY(SmfBuilder::writeFile(second, SmfBuilder::oneNoteSong(600, 800)));
    const QString albumPath = work.filePath(QStringLiteral("Evening.alp"));
    QFile albumFile(albumPath);
    QVERIFY(albumFile.open(QIODevice::WriteOnly));
    albumFile.write((first + QStringLiteral("\r\n") + second + QStringLiteral("\r\n")).toUtf8());
    albumFile.close();

    const QString config = work.filePath(QStringLiteral("config"));
    const QString settingsPath = config + QStringLiteral("/Quavrel/Quavrel.conf");
    {
        QSettings settings(settingsPath, QSettings::IniFormat);
        settings.setValue(QStringLiteral("Startup/Album"), albumPath);
    }
    const QDateTime longAgo = QDateTime::currentDateTime().addDays(-1);
    {
        QFile settingsFile(settingsPath);
        QVERIFY(settingsFile.open(QIODevice::ReadWrite));
        QVERIFY(settingsFile.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }

    QProcess quavrel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("QUAVREL_AUDIO_DRIVER"), QStringLiteral("file"));
    quavrel.setProcessEnvironment(environment);
    quavrel.setWorkingDirectory(work.path());
    quavrel.setProcessChannelMode(QProcess::ForwardedChannels);
    quavrel.start(QStringLiteral(QUAVREL_BINARY_DIR "/quavrel"), {});
    QVERIFY(quavrel.waitForStarted());

    const QString window = run({ QStringLiteral("search"), QStringLiteral("--sync"),
                                   QStringLiteral("--name"), QStringLiteral("^Quavrel v1.04$") },
        20000)
                               .section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(!window.isEmpty(), "the window did not show");
    run({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
    run({ QStringLiteral("key"), QStringLiteral("alt+p") });

    // The title follows the songs, and the second ends the queue back at the idle title.
    QVERIFY(waitForWindowName(window, QStringLiteral("First Tune"), 10000));
    const QString wav = work.filePath(QStringLiteral("fluidsynth.wav"));
    QTRY_VERIFY_WITH_TIMEOUT(hasSound(wav), 10000);
    QVERIFY(waitForWindowName(window, QStringLiteral("Second"), 10000));
    QVERIFY(waitForWindowName(window, QStringLiteral("Quavrel v1.04"), 10000));

    requestClose(window);
    QVERIFY(quavrel.waitForFinished(15000));
    QCOMPARE(quavrel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(quavrel.exitCode(), 0);

    // Closing rewrote the entry with the album that was open.
    QVERIFY(QFileInfo(settingsPath).lastModified() > longAgo.addSecs(60));
    const QSettings settings(settingsPath, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("Startup/Album")).toString(), albumPath);
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "test_end_to_end.moc"
