#include "app/main_window.h"
#include "tests/support/files.h"
#include "tests/support/smf_builder.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <X11/Xlib.h>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

// Generous, for a machine busy with other builds: every wait ends as soon as its condition holds.
constexpr int Deadline = 60000;

QString run(const QStringList &xdotoolArguments)
{
    QProcess xdotool;
    xdotool.start(u"xdotool"_s, xdotoolArguments);
    xdotool.waitForFinished(Deadline);
    return QString::fromUtf8(xdotool.readAllStandardOutput());
}

// The visible windows with exactly this title.
QStringList windows(const QString &title)
{
    return run({ u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + title + u'$' })
        .split(u'\n', Qt::SkipEmptyParts);
}

// Samples of the 16-bit WAV file that FluidSynth's file driver writes: is one clearly not silence?
bool hasSound(const QString &wavPath)
{
    const QByteArray wav = TestFiles::read(wavPath);
    return std::any_of(wav.begin() + std::min<qsizetype>(wav.size(), 44), wav.end(),
        [](char high) { return std::abs(high) > 1; });
}

} // namespace

// The real program on a real X server, driven by xdotool: it plays its remembered album into
// FluidSynth's file driver and writes the album entry back when its window is closed; SIGTERM,
// SIGINT and SIGHUP close it as its close button does and end it whatever the save question gets.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void endToEnd_data();
    void endToEnd();

private:
    bool step(const QString &where, const QString &action);

    QProcess m_xvfb;
    QTemporaryDir m_work;
    QStringList m_songs;
    QProcess m_quavrel;
    QString m_window;
};

void TestEndToEnd::initTestCase()
{
    if (QStandardPaths::findExecutable(u"Xvfb"_s).isEmpty()
        || QStandardPaths::findExecutable(u"xdotool"_s).isEmpty())
        QSKIP("needs Xvfb and xdotool (packages xvfb and xdotool)");
    // Xvfb picks a free display and writes its number to standard output; it must not reset (and
    // refuse connections meanwhile) each time its last client has gone.
    m_xvfb.start(
        u"Xvfb"_s, u"-displayfd 1 -noreset -screen 0 640x480x24 -nolisten tcp"_s.split(u' '));
    QVERIFY(QTest::qWaitFor([this] { return m_xvfb.canReadLine(); }, Deadline));
    // For xdotool and the program alike; Qt's own dialogs whatever the desktop the test runs in.
    qputenv("DISPLAY", ':' + m_xvfb.readLine().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_QPA_PLATFORMTHEME", "generic");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_work.filePath(u"config"_s)));
    qputenv("QUAVREL_AUDIO_DRIVER", "file");
    for (const QString &name : { u"First Tune"_s, u"Second"_s, u"Third"_s }) {
        m_songs.append(m_work.filePath(name + u".mid"_s));
        QVERIFY(SmfBuilder::writeFile(m_songs.last(), SmfBuilder::oneNoteSong(900, 2000)));
    }
    QVERIFY(QDir().mkpath(m_work.filePath(u"config/Quavrel"_s)));
}

// In the main window ("window"), or in the box or dialog that shows over it: send a signal, type a
// path over the file name and press Return, or press a key, and then see the box go; or wait for
// the main window to take a title, or for the sound file to hold sound; or close the window as a
// window manager does, or take the focus away from it as another program does.
bool TestEndToEnd::step(const QString &where, const QString &action)
{
    if (where == u"title"_s)
        return QTest::qWaitFor([&] { return windows(action).contains(m_window); }, Deadline);
    const QString title = where == u"box"_s ? AppTitle
        : where == u"save"_s                ? u"Save Midi List to Album"_s
                                            : u"Add Midi Song"_s;
    QString target = m_window;
    const auto shows = [&] {
        const QStringList found = windows(title);
        return !(target = found.value(found.indexOf(m_window) == 0 ? 1 : 0)).isEmpty();
    };
    if (where != u"window"_s && !QTest::qWaitFor(shows, Deadline))
        return false;
    const int signal = QMap<QString, int> {
        { u"TERM"_s, SIGTERM }, { u"INT"_s, SIGINT }, { u"HUP"_s, SIGHUP }
    }.value(action);
    if (signal != 0)
        return ::kill(pid_t(m_quavrel.processId()), signal) == 0;
    if (action == u"sound"_s)
        return QTest::qWaitFor(
            [&] { return hasSound(m_work.filePath(u"fluidsynth.wav"_s)); }, Deadline);
    if (action == u"close"_s || action == u"unfocus"_s) {
        Display *display = XOpenDisplay(nullptr);
        XEvent close { .xclient = { ClientMessage, 0, False, display, Window(m_window.toULong()),
                           XInternAtom(display, "WM_PROTOCOLS", False), 32,
                           { .l = { long(XInternAtom(display, "WM_DELETE_WINDOW", False)) } } } };
        action == u"close"_s ? XSendEvent(display, close.xclient.window, False, NoEventMask, &close)
                             : XSetInputFocus(display, None, RevertToNone, CurrentTime);
        return XCloseDisplay(display) == 0;
    }
    run({ u"windowfocus"_s, u"--sync"_s, target });
    if (action.startsWith(u'/'))
        run({ u"key"_s, u"ctrl+a"_s, u"type"_s, action });
    run({ u"key"_s, action.startsWith(u'/') ? u"Return"_s : action });
    return target == m_window || QTest::qWaitFor([&] { return !shows(); }, Deadline);
}

void TestEndToEnd::endToEnd_data()
{
    QTest::addColumn<QString>("steps");
    const QString changed = u"window alt+a, add %1, window %2, "_s.arg(m_songs[2]);
    QTest::newRow("played, closed by its window")
        << u"window alt+p, title First Tune, window sound, box Return, "
           u"title Second, title Quavrel v1.04, window close"_s;
    QTest::newRow("TERM, nothing to save") << u"window TERM"_s;
    QTest::newRow("INT, answered No") << changed.arg(u"INT"_s) + u"box n"_s;
    QTest::newRow("HUP, answered Yes")
        << changed.arg(u"HUP"_s) + u"box Return, save "_s + m_work.filePath(u"Night.alp"_s);
    QTest::newRow("TERM twice, at the question") << changed.arg(u"TERM"_s) + u"box TERM"_s;
    QTest::newRow("TERM twice, at Save") << changed.arg(u"TERM"_s) + u"box Return, save TERM"_s;
    QTest::newRow("TERM over a not-found box") << u"window alt+p, window unfocus, box TERM"_s;
}

// The program with an album that its start-up entry names, from when its window shows (it
// catches signals from then on) until it has ended by itself, with the entry rewritten.
void TestEndToEnd::endToEnd()
{
    QFETCH(QString, steps);
    // The entry is read trimmed and written back as it was, unless another album was saved.
    const QString album = m_work.filePath(u"Evening.alp"_s);
    const QString entry = u' ' + album + u"  "_s;
    const QString night = m_work.filePath(u"Night.alp"_s);
    const bool saved = steps.contains(night);
    const QStringList songs { m_songs[0], m_work.filePath(u"Gone.mid"_s), m_songs[1] };
    m_quavrel.kill(); // after a failed run
    m_quavrel.waitForFinished(Deadline);
    QVERIFY(TestFiles::write(album, TestFiles::albumBytes(songs)));
    // With a comment that only a rewrite of the file drops.
    const QString conf = m_work.filePath(u"config/Quavrel/Quavrel.conf"_s);
    QVERIFY(TestFiles::write(conf, "; by the test\n[Startup]\nAlbum=\"" + entry.toUtf8() + "\"\n"));
    m_quavrel.setWorkingDirectory(m_work.path());
    m_quavrel.setProcessChannelMode(QProcess::ForwardedChannels);
    m_quavrel.start(QStringLiteral(QUAVREL_BINARY_DIR "/quavrel"), {});
    QVERIFY(QTest::qWaitFor(
        [&] { return !(m_window = windows(AppTitle).value(0)).isEmpty(); }, Deadline));
    for (const QString &each : steps.split(u", "_s))
        QVERIFY2(step(each.section(u' ', 0, 0), each.section(u' ', 1)), qPrintable(each));
    QVERIFY(QTest::qWaitFor([&] { return m_quavrel.state() == QProcess::NotRunning; }, Deadline));
    QCOMPARE(std::pair(m_quavrel.exitStatus(), m_quavrel.exitCode()),
        std::pair(QProcess::NormalExit, 0));
    QVERIFY(!TestFiles::read(conf).contains("; by the test"));
    QCOMPARE(QSettings(conf, QSettings::IniFormat).value(u"Startup/Album"_s).toString(),
        saved ? night : entry);
    // Only a Yes saves, and to the file chosen in the Save dialog.
    QCOMPARE(TestFiles::read(saved ? night : album),
        TestFiles::albumBytes(saved ? songs + m_songs.mid(2) : songs));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
