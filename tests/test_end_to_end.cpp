#include "app/main_window.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/smf_builder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>

using namespace Qt::StringLiterals;

namespace {

const QString Mpris = u"org.mpris.MediaPlayer2.quavrel"_s;
const QString Path = u"/org/mpris/MediaPlayer2"_s;
const QString Player = u"org.mpris.MediaPlayer2.Player"_s;
const QString Root = u"org.mpris.MediaPlayer2"_s;
// Generous, for a machine busy with other builds: every wait ends as soon as its condition holds.
constexpr int Deadline = 60000;

// What xdotool prints, line by line.
QStringList xdotool(const QStringList &arguments)
{
    QProcess xdotool;
    xdotool.start(u"xdotool"_s, arguments);
    xdotool.waitForFinished(Deadline);
    return QString::fromUtf8(xdotool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// The visible windows with exactly this title.
QStringList windows(const QString &title)
{
    return xdotool({ u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + title + u'$' });
}

// Samples of the 16-bit WAV file that FluidSynth's file driver writes: is one clearly not silence?
bool hasSound(const QString &wavPath)
{
    const QByteArray wav = TestFiles::read(wavPath);
    return std::any_of(wav.begin() + std::min<qsizetype>(wav.size(), 44), wav.end(),
        [](char high) { return std::abs(high) > 1; });
}

} // namespace

// Quavrel on the desktop: the real program on a private X server and session bus, driven as the
// user, the window manager, the shell and the media keys drive it; and the window's captions
// with DejaVu Sans as the only font.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void captionsFitTheFallbackFont();
    void endToEnd_data();
    void endToEnd();
    void mediaControlsAndLaterStarts();
    void commandLine();
    void songPlaceAndVolume();
    void runsAloneWithoutBusOrMediaName();
    void soundFontIsChosenAndKept();

public Q_SLOTS:
    void propertiesChanged(const QString &, const QVariantMap &properties) { changed = properties; }
    void seeked(qlonglong position) { moved = position; }

private:
    QProcess *start(const QStringList &arguments, const QString &shell = {});
    bool step(const QString &where, const QString &action);
    QVariant get(const char *name, const QString &interface = Player)
    {
        return QDBusInterface(Mpris, Path, interface).property(name);
    }
    QDBusMessage press(const QString &method, const QVariantList &arguments = {})
    {
        return QDBusInterface(Mpris, Path, Player)
            .callWithArgumentList(QDBus::Block, method, arguments);
    }
    QString playing(const char *key) { return get("Metadata").toMap().value(key).toString(); }
    QString url(const QString &name) { return QUrl::fromLocalFile(work.filePath(name)).toString(); }

    QTemporaryDir work;
    QProcess xvfb, bus;
    QStringList songs;
    QVariantMap changed;
    qlonglong moved = -1;
    std::vector<std::unique_ptr<QProcess>> quavrels;
    QString window;
};

void TestEndToEnd::initTestCase()
{
    for (const char *tool : { "Xvfb", "xdotool", "dbus-daemon" })
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs Xvfb, xdotool and dbus-daemon (packages xvfb, xdotool, dbus)");
    QVERIFY(QDir::setCurrent(work.path()) && QDir().mkpath(u"endToEnd/Quavrel"_s));
    for (const QString &name : { u"First Tune"_s, u"Second"_s, u"Third"_s }) {
        songs.append(work.filePath(name + u".mid"_s));
        QVERIFY(SmfBuilder::writeFile(songs.last(), SmfBuilder::oneNoteSong(900, 2000)));
    }
    QVERIFY(QDir().mkdir(u"songs"_s));
    for (const QString &song : u"a.mid b.mid c.mid songs/a.mid songs/b.mid"_s.split(u' '))
        QVERIFY(SmfBuilder::writeFile(song, SmfBuilder::oneNoteSong(60000, 60000)));
    QVERIFY(TestFiles::write(u"empty.mid"_s, ""));
    // A session bus of its own that starts no services (no accessibility bus, no dconf), and an X
    // server that does not reset (and refuse connections) whenever its last client leaves.
    QVERIFY(TestFiles::write(u"bus.conf"_s, R"(<busconfig><listen>unix:tmpdir=/tmp</listen><policy
        context="default"><allow send_destination="*"/><allow eavesdrop="true"/><allow own="*"/>
        </policy></busconfig>)"));
    bus.start(u"dbus-daemon"_s, u"--nofork --print-address=1 --config-file=bus.conf"_s.split(u' '));
    xvfb.start(u"Xvfb"_s, u"-displayfd 1 -nolisten tcp -noreset"_s.split(u' '));
    for (QProcess *server : { &bus, &xvfb })
        QTRY_VERIFY_WITH_TIMEOUT(server->canReadLine(), Deadline);
    // Set before the test's own bus connection is made; the programs started inherit it all, and
    // ask for Qt's own dialogs whatever the desktop the test runs in.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    qputenv("DISPLAY", ':' + xvfb.readLine().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_QPA_PLATFORMTHEME", "generic");
    qputenv("QUAVREL_AUDIO_DRIVER", "file");
    QVERIFY(QDBusConnection::sessionBus().connect(Mpris, Path, u"org.freedesktop.DBus.Properties"_s,
        u"PropertiesChanged"_s, this, SLOT(propertiesChanged(QString, QVariantMap))));
    QVERIFY(QDBusConnection::sessionBus().connect(
        Mpris, Path, Player, u"Seeked"_s, this, SLOT(seeked(qlonglong))));
}

// Closed as the desktop closes programs at log-out; what does not close in time is killed.
void TestEndToEnd::cleanup()
{
    for (const auto &quavrel : quavrels) {
        quavrel->terminate();
        quavrel->waitForFinished(Deadline);
    }
    quavrels.clear();
}

// Each test function's Quavrels share a settings folder; all run in the test's working folder.
// A shell command line starts the program ("$0") with arguments that only a shell can give.
QProcess *TestEndToEnd::start(const QStringList &arguments, const QString &shell)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath(QTest::currentTestFunction())));
    QProcess *quavrel = quavrels.emplace_back(std::make_unique<QProcess>()).get();
    quavrel->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString program = u"" QUAVREL_BINARY_DIR "/quavrel"_s;
    if (shell.isEmpty())
        quavrel->start(program, arguments);
    else
        quavrel->start(u"sh"_s, { u"-c"_s, shell, program });
    return quavrel;
}

// Where Liberation Sans is missing, each caption fits its control's box as the style lays it
// out, at the largest size that fits.
void TestEndToEnd::captionsFitTheFallbackFont()
{
    if (!QFile::exists(u"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"_s))
        QSKIP("needs DejaVu Sans in /usr/share/fonts/truetype/dejavu (package fonts-dejavu-core)");
    FakePlatform platform;
    Form1 window(platform);
    QList<std::pair<QWidget *, QString>> captions { { window.Label3, window.Label3->text() } };
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>())
        captions.append({ button, button->text() });
    for (const auto &[control, caption] : captions) {
        QCOMPARE(QFontInfo(control->font()).family(), u"DejaVu Sans"_s);
        QStyleOptionButton option;
        option.initFrom(control);
        const auto element = qobject_cast<QCheckBox *>(control) ? QStyle::SE_CheckBoxContents
                                                                : QStyle::SE_PushButtonContents;
        const QRect box = control == window.Label3
            ? control->contentsRect()
            : control->style()->subElementRect(element, &option, control);
        const auto fits = [&](double points) {
            QFont font = control->font();
            font.setPointSizeF(points);
            const QFontMetricsF metrics(font, control);
            return metrics.horizontalAdvance(QString(caption).remove(u'&')) <= box.width()
                && metrics.height() <= box.height();
        };
        const double size = control->font().pointSizeF();
        QVERIFY2(fits(size) && (size == 8.25 || !fits(size + 0.25)), qPrintable(caption));
    }
}

// Wait until start-up is through ("ready": the window shows before the album is read, the media
// player only after); in the main window ("window"), or in the box or dialog that shows over it:
// send signals (several arrive together), type a path over the file name and press Return, or press
// a key, and then see the box go; or wait for the main window to take a title, or for the sound
// file to hold sound; or close the window as a window manager does, or take the focus away from it
// as another program does.
bool TestEndToEnd::step(const QString &where, const QString &action)
{
    if (where == u"ready"_s)
        return QTest::qWaitFor([this] { return get("CanPlay").toBool(); }, Deadline);
    if (where == u"title"_s)
        return QTest::qWaitFor([&] { return windows(action).contains(window); }, Deadline);
    const QString title = where == u"box"_s ? AppTitle
        : where == u"save"_s                ? u"Save Midi List to Album"_s
        : where == u"soundfont"_s           ? u"Choose a SoundFont"_s
                                            : u"Add Midi Song"_s;
    QString target = window;
    const auto shows = [&] {
        const QStringList found = windows(title);
        return !(target = found.value(found.indexOf(window) == 0 ? 1 : 0)).isEmpty();
    };
    if (where != u"window"_s && !QTest::qWaitFor(shows, Deadline))
        return false;
    const QMap<QString, int> signalNumbers { { u"TERM"_s, SIGTERM }, { u"INT"_s, SIGINT },
        { u"HUP"_s, SIGHUP } };
    if (signalNumbers.contains(action.section(u' ', 0, 0))) {
        // Sent while the program is stopped, several signals reach it together.
        const auto pid = pid_t(quavrels.back()->processId());
        ::kill(pid, SIGSTOP);
        for (const QString &name : action.split(u' '))
            ::kill(pid, signalNumbers.value(name));
        return ::kill(pid, SIGCONT) == 0;
    }
    if (action == u"sound"_s)
        return QTest::qWaitFor([] { return hasSound(u"fluidsynth.wav"_s); }, Deadline);
    if (action == u"close"_s || action == u"unfocus"_s) {
        Display *display = XOpenDisplay(nullptr);
        XEvent close { .xclient = { ClientMessage, 0, False, display, Window(window.toULong()),
                           XInternAtom(display, "WM_PROTOCOLS", False), 32,
                           { .l = { long(XInternAtom(display, "WM_DELETE_WINDOW", False)) } } } };
        action == u"close"_s ? XSendEvent(display, close.xclient.window, False, NoEventMask, &close)
                             : XSetInputFocus(display, None, RevertToNone, CurrentTime);
        return XCloseDisplay(display) == 0;
    }
    xdotool({ u"windowfocus"_s, u"--sync"_s, target });
    if (action.startsWith(u'/'))
        xdotool({ u"key"_s, u"ctrl+a"_s, u"type"_s, action });
    xdotool({ u"key"_s, action.startsWith(u'/') ? u"Return"_s : action });
    return target == window || QTest::qWaitFor([&] { return !shows(); }, Deadline);
}

void TestEndToEnd::endToEnd_data()
{
    QTest::addColumn<QString>("steps");
    const QString changed = u"ready, window alt+a, add %1, window %2, "_s.arg(songs[2]);
    QTest::newRow("played, closed by its window")
        << u"ready, window alt+p, title First Tune, window sound, box Return, "
           u"title Second, title Quavrel v1.04, window close"_s;
    QTest::newRow("TERM, nothing to save") << u"window TERM"_s;
    QTest::newRow("INT, answered No") << changed.arg(u"INT"_s) + u"box n"_s;
    QTest::newRow("HUP, answered Yes")
        << changed.arg(u"HUP"_s) + u"box Return, save "_s + work.filePath(u"Night.alp"_s);
    QTest::newRow("TERM twice, at the question") << changed.arg(u"TERM"_s) + u"box TERM"_s;
    QTest::newRow("TERM twice, at Save") << changed.arg(u"TERM"_s) + u"box Return, save TERM"_s;
    QTest::newRow("TERM and HUP at once, at the question") << changed.arg(u"TERM HUP"_s).chopped(2);
    QTest::newRow("TERM over a not-found box")
        << u"ready, window alt+p, window unfocus, box TERM"_s;
    QTest::newRow("TERM over a box at start-up") << u"quavrel empty.mid, box TERM"_s;
}

// The program with an album that its start-up entry names (and the files of a first step
// "quavrel FILES"), from when its window shows until it has ended by itself, with the entry
// rewritten: SIGTERM, SIGINT and SIGHUP close it as its close button does, and end it whatever
// the save question gets.
void TestEndToEnd::endToEnd()
{
    QFETCH(QString, steps);
    QStringList each = steps.split(u", "_s);
    const QStringList files
        = steps.startsWith(u"quavrel "_s) ? each.takeFirst().split(u' ').mid(1) : QStringList();
    // The entry is read trimmed and written back as it was, unless another album was saved.
    const QString album = work.filePath(u"Evening.alp"_s);
    const QString entry = u' ' + album + u"  "_s;
    const QString night = work.filePath(u"Night.alp"_s);
    const bool saved = steps.contains(night);
    const QStringList list { songs[0], work.filePath(u"Gone.mid"_s), songs[1] };
    QVERIFY(TestFiles::write(album, TestFiles::albumBytes(list)));
    // With a comment that only a rewrite of the file drops.
    const QString conf = work.filePath(u"endToEnd/Quavrel/Quavrel.conf"_s);
    QVERIFY(TestFiles::write(conf, "; by the test\n[Startup]\nAlbum=\"" + entry.toUtf8() + "\"\n"));
    const QProcess *quavrel = start(files);
    QVERIFY(QTest::qWaitFor(
        [&] { return !(window = windows(AppTitle).value(0)).isEmpty(); }, Deadline));
    for (const QString &one : each)
        QVERIFY2(step(one.section(u' ', 0, 0), one.section(u' ', 1)), qPrintable(one));
    QVERIFY(QTest::qWaitFor([&] { return quavrel->state() == QProcess::NotRunning; }, Deadline));
    QCOMPARE(
        std::pair(quavrel->exitStatus(), quavrel->exitCode()), std::pair(QProcess::NormalExit, 0));
    QVERIFY(!TestFiles::read(conf).contains("; by the test"));
    QCOMPARE(QSettings(conf, QSettings::IniFormat).value(u"Startup/Album"_s).toString(),
        saved ? night : entry);
    // Only a Yes saves, and to the file chosen in the Save dialog.
    QCOMPARE(TestFiles::read(saved ? night : album),
        TestFiles::albumBytes(saved ? list + songs.mid(2) : list));
}

// A started Quavrel plays those of its files that exist and end in .mid; the media controls press
// the window's buttons (Play only starts, Stop stops) or pause and resume, and every change is
// announced.
// A later start while a message box is open returns at once, and its files wait for the box to
// close, then play; the blocked window takes no media requests.
void TestEndToEnd::mediaControlsAndLaterStarts()
{
    start({ u"songs/a.mid"_s, u"songs/gone.mid"_s, u"bus.conf"_s, work.filePath(u"c.mid"_s) });
    QTRY_COMPARE_WITH_TIMEOUT(playing("xesam:url"), url(u"songs/a.mid"_s), Deadline);
    press(u"Next"_s);
    QTRY_COMPARE_WITH_TIMEOUT(playing("xesam:title"), u"c"_s, Deadline);
    press(u"Stop"_s);
    QTRY_VERIFY_WITH_TIMEOUT(changed.value(u"PlaybackStatus"_s) == u"Stopped"_s, Deadline);
    QVERIFY(changed.contains(u"Metadata"_s) && changed.value(u"CanGoNext"_s) == false);
    press(u"Play"_s);
    press(u"Play"_s);
    QTRY_VERIFY_WITH_TIMEOUT(
        qdbus_cast<QVariantMap>(changed.value(u"Metadata"_s)).value(u"xesam:title"_s) == u"a"_s,
        Deadline);
    // Paused, the title says so and nothing renders; Play resumes, PlayPause toggles.
    press(u"Pause"_s);
    QTRY_COMPARE_WITH_TIMEOUT(windows(u"a \\(paused\\)"_s).size(), 1, Deadline);
    QCOMPARE(std::pair(get("PlaybackStatus").toString(), playing("xesam:title")),
        std::pair(u"Paused"_s, u"a"_s));
    const qint64 rendered = QFileInfo(u"fluidsynth.wav"_s).size();
    QTest::qWait(500);
    QCOMPARE(QFileInfo(u"fluidsynth.wav"_s).size(), rendered);
    for (const QString &method : { u"Play"_s, u"PlayPause"_s, u"PlayPause"_s }) {
        const QString before = get("PlaybackStatus").toString();
        press(method);
        QTRY_VERIFY_WITH_TIMEOUT(get("PlaybackStatus").toString() != before, Deadline);
    }
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(u"fluidsynth.wav"_s).size() > rendered, Deadline);

    QVERIFY(QFile::remove(u"c.mid"_s));
    press(u"Next"_s);
    QTRY_VERIFY_WITH_TIMEOUT(changed.value(u"CanPlay"_s) == false, Deadline);
    press(u"Stop"_s);
    // A later start in another folder names its file relative to that folder.
    QDir::setCurrent(u"songs"_s);
    QProcess *later = start({ u"b.mid"_s });
    QDir::setCurrent(work.path());
    QVERIFY(later->waitForFinished(Deadline) && later->exitCode() == 0);
    QCOMPARE(playing("xesam:url"), url(u"c.mid"_s));
    xdotool({ u"key"_s, u"Return"_s });
    QTRY_COMPARE_WITH_TIMEOUT(playing("xesam:url"), url(u"songs/b.mid"_s), Deadline);
    QDBusInterface(Mpris, Path, u"org.mpris.MediaPlayer2"_s).call(u"Quit"_s);
    QVERIFY(quavrels.front()->waitForFinished(Deadline) && quavrels.front()->exitCode() == 0);
}

// --help and --version answer before Qt starts, which here could reach no X server; after "--"
// every argument is a file, even one that Qt or Quavrel would read as an option. A name that is
// no UTF-8 plays, given to a first start and handed over to a running Quavrel.
void TestEndToEnd::commandLine()
{
    QByteArray printed;
    for (const QString &option : { u"--help"_s, u"--version"_s }) {
        QProcess *quavrel = start({ u"-display"_s, u"none"_s, option });
        QVERIFY(quavrel->waitForFinished(Deadline));
        QCOMPARE(std::pair(quavrel->exitStatus(), quavrel->exitCode()),
            std::pair(QProcess::NormalExit, 0));
        printed += quavrel->readAllStandardOutput();
    }
    QVERIFY(printed.contains("QUAVREL_SOUNDFONT") && printed.contains("QUAVREL_AUDIO_DRIVER"));
    QVERIFY(printed.endsWith("\nQuavrel " QUAVREL_VERSION "\n"));
    start({ u"--"_s, u"--version"_s, u"-display"_s, u"a.mid"_s });
    QTRY_COMPARE_WITH_TIMEOUT(windows(u"a"_s).size(), 1, Deadline);
    cleanup();

    QVERIFY(SmfBuilder::writeFile(u"bad"_s, SmfBuilder::oneNoteSong(60000, 60000)));
    QCOMPARE(::rename("bad", "bad\xff\xfe.mid"), 0);
    for (const bool running : { true, false }) {
        QFile::remove(u"fluidsynth.wav"_s);
        if (running) {
            start({});
            QTRY_VERIFY_WITH_TIMEOUT(!windows(AppTitle).isEmpty(), Deadline);
        }
        QProcess *quavrel = start({}, u"exec \"$0\" \"$(printf 'bad\\377\\376.mid')\""_s);
        QVERIFY(!running || (quavrel->waitForFinished(Deadline) && quavrel->exitCode() == 0));
        QTRY_VERIFY_WITH_TIMEOUT(hasSound(u"fluidsynth.wav"_s), Deadline);
        cleanup();
    }
}

// With the media player's name owned by another program, Quavrel runs without it and is still
// the one Quavrel: a later start hands its files over, and one without files only raises it.
// Without a session bus, Quavrel starts alone, as it always has, and plays its files.
void TestEndToEnd::runsAloneWithoutBusOrMediaName()
{
    // The Quavrels of later tests have the bus and the name again.
    const auto restore = qScopeGuard([bus = qgetenv("DBUS_SESSION_BUS_ADDRESS")] {
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        QDBusConnection::sessionBus().unregisterService(Mpris);
    });
    QVERIFY(QDBusConnection::sessionBus().registerService(Mpris));
    start({ u"a.mid"_s });
    QTRY_COMPARE_WITH_TIMEOUT(windows(u"a"_s).size(), 1, Deadline);
    for (const QStringList &arguments : { QStringList { u"b.mid"_s }, QStringList {} }) {
        QProcess *later = start(arguments);
        QVERIFY(later->waitForFinished(Deadline) && later->exitCode() == 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(windows(u"b"_s).size(), 1, Deadline);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=no-bus");
    start({ u"a.mid"_s });
    QTRY_COMPARE_WITH_TIMEOUT(windows(u"a"_s).size(), 1, Deadline);
}

namespace {

// The sound at the null sink over the next milliseconds (16-bit mono), from its first sample on;
// an action done while it records is done at sample *at.
QByteArray record(int ms, const std::function<void()> &action = {}, qsizetype *at = nullptr)
{
    QProcess parec;
    parec.start(u"parec"_s,
        u"-d quavrel.monitor --raw --format=s16le --channels=1 --latency-msec=10"_s.split(u' '));
    parec.waitForReadyRead(Deadline);
    parec.readAllStandardOutput();
    QByteArray sound;
    if (action) {
        QTest::qWait(100);
        sound = parec.readAllStandardOutput();
        *at = sound.size() / 2;
        action();
    }
    QTest::qWait(ms);
    parec.terminate();
    parec.waitForFinished();
    return sound + parec.readAllStandardOutput();
}

// The loudest sample from a sample on, in dB of full scale.
double level(const QByteArray &sound, qsizetype from = 0)
{
    const auto *at = reinterpret_cast<const qint16 *>(sound.constData());
    const int peak = std::accumulate(at + std::min(from, sound.size() / 2), at + sound.size() / 2,
        1, [](int loudest, qint16 sample) { return std::max(loudest, std::abs(int(sample))); });
    return 20 * std::log10(peak / 32768.0);
}

} // namespace

// Through Quavrel's own PulseAudio output to a null sink: what the media controls read and set of
// the song (its length, where it is, seeking, the volume, which the mixer sets too), opening a file
// by address, and what the player says of itself.
void TestEndToEnd::songPlaceAndVolume()
{
    if (QStandardPaths::findExecutable(u"pulseaudio"_s).isEmpty()
        || QStandardPaths::findExecutable(u"parec"_s).isEmpty())
        QSKIP("needs pulseaudio and pulseaudio-utils (pulseaudio, pactl, parec)");
    QVERIFY(QDir().mkpath(u"run"_s));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(work.filePath(u"run"_s)));
    qunsetenv("QUAVREL_AUDIO_DRIVER");
    const auto restore = qScopeGuard([] { qputenv("QUAVREL_AUDIO_DRIVER", "file"); });
    QProcess pulse;
    pulse.start(u"pulseaudio"_s,
        { u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s,
            u"--load=module-native-protocol-unix"_s,
            u"--load=module-null-sink sink_name=quavrel"_s });
    const auto stop = qScopeGuard([&pulse] { pulse.kill(), pulse.waitForFinished(); });
    // Silence for 20 s, then an organ until the end, at 30 s.
    SmfBuilder::Track organ;
    organ.program(0, 0, 19).noteOn(20000, 0, 60).endOfTrack(10000);
    QVERIFY(SmfBuilder::writeFile(u"organ.mid"_s, organ.song()));
    start({ u"organ.mid"_s });
    QTRY_COMPARE_WITH_TIMEOUT(
        get("Metadata").toMap().value(u"mpris:length"_s), QVariant(30000000LL), Deadline);
    QDBusInterface(Mpris, Path, Player).setProperty("Rate", 2.0);
    const QList<std::tuple<QString, const char *, QVariant>> fixed { { Root, "CanQuit", true },
        { Root, "CanRaise", true }, { Root, "HasTrackList", false },
        { Root, "Identity", u"Quavrel"_s },
        { Root, "DesktopEntry", u"io.github.quavrel.Quavrel"_s },
        { Root, "SupportedUriSchemes", QStringList { u"file"_s } },
        { Root, "SupportedMimeTypes", QStringList { u"audio/midi"_s, u"audio/x-midi"_s } },
        { Player, "CanControl", true }, { Player, "CanGoPrevious", false },
        { Player, "CanSeek", true }, { Player, "Rate", 1.0 }, { Player, "MinimumRate", 1.0 },
        { Player, "MaximumRate", 1.0 }, { Player, "Volume", 1.0 } };
    for (const auto &[interface, name, value] : fixed)
        QVERIFY2(get(name, interface) == value, name);
    const qlonglong position = get("Position").toLongLong();
    QTRY_VERIFY_WITH_TIMEOUT(get("Position").toLongLong() > position + 300000, Deadline);
    QVERIFY(level(record(300)) < -80);
    // To the organ.
    const auto track = get("Metadata").toMap().value(u"mpris:trackid"_s).value<QDBusObjectPath>();
    press(u"SetPosition"_s, { QVariant::fromValue(track), 20000000LL });
    QTRY_COMPARE_WITH_TIMEOUT(moved, 20000000LL, Deadline);
    const double loud = level(record(300));
    QVERIFY(loud > -40 && get("Position").toLongLong() >= 20000000);
    // A quarter of the volume is quieter by far, at once; then back to the silence before the
    // organ, which is heard as soon as a change of volume is (what was queued does not play).
    qlonglong before = 0;
    QElapsedTimer between;
    qint64 spacing = 0;
    qsizetype at = 0;
    const QByteArray heard = record(
        600,
        [&] {
            QDBusInterface(Mpris, Path, Player).setProperty("Volume", 0.25);
            between.start();
            QTest::qWait(300);
            spacing = between.elapsed();
            before = get("Position").toLongLong();
            press(u"Seek"_s, { -19000000LL });
        },
        &at);
    const auto firstBelow = [&](double dB) {
        qsizetype from = at;
        while (from < heard.size() / 2 && level(heard.mid(2 * from, 882)) >= dB)
            from += 441;
        return from;
    };
    const qsizetype quieter = firstBelow(loud - 20), silent = firstBelow(-80);
    QVERIFY2(std::abs((silent - quieter) / 44.1 - double(spacing)) < 150,
        qPrintable(
            QStringLiteral("%1 ms, %2 ms apart").arg((silent - quieter) / 44.1).arg(spacing)));
    QCOMPARE(changed.value(u"Volume"_s), QVariant(0.25));
    QVERIFY(std::abs(moved - (before - 19000000)) < 100000);
    // What the mixer sets, the player reads and tells, also while paused (no tick then).
    press(u"Pause"_s);
    QProcess pactl;
    pactl.start(u"pactl"_s, { u"list"_s, u"sink-inputs"_s, u"short"_s });
    QVERIFY(pactl.waitForFinished(Deadline));
    const QString input = QString::fromUtf8(pactl.readAllStandardOutput()).section(u'\t', 0, 0);
    QProcess::execute(u"pactl"_s, { u"set-sink-input-volume"_s, input, u"50%"_s });
    QTRY_COMPARE_WITH_TIMEOUT(changed.value(u"Volume"_s), QVariant(0.5), Deadline);
    press(u"Play"_s);
    // Previous does nothing.
    press(u"Previous"_s);
    QVERIFY(level(record(200)) < -80 && get("Position").toLongLong() < 20000000);
    // Opened by address: a local .mid file plays; other files and schemes are refused.
    for (const QString &refused : { url(u"bus.conf"_s), u"http://localhost/a.mid"_s })
        QCOMPARE(press(u"OpenUri"_s, { refused }).type(), QDBusMessage::ErrorMessage);
    press(u"OpenUri"_s, { url(u"a.mid"_s) });
    QTRY_COMPARE_WITH_TIMEOUT(playing("xesam:title"), u"a"_s, Deadline);
    // Raise brings the window over one that another program put on top of it.
    Display *display = XOpenDisplay(nullptr);
    const auto close = qScopeGuard([display] { XCloseDisplay(display); });
    const Window root = DefaultRootWindow(display);
    XMapRaised(display, XCreateSimpleWindow(display, root, 0, 0, 800, 600, 0, 0, 0));
    const auto onTop = [&] {
        Window parent = 0, *children = nullptr, rootReturn = 0;
        unsigned int count = 0;
        XQueryTree(display, root, &rootReturn, &parent, &children, &count);
        const Window top = count > 0 ? children[count - 1] : 0;
        XFree(children);
        return QString::number(top) == windows(u"a"_s).value(0);
    };
    QVERIFY(!onTop());
    QDBusInterface(Mpris, Path, Root).call(u"Raise"_s);
    QTRY_VERIFY_WITH_TIMEOUT(onTop(), Deadline);
}

// The SoundFont chosen from the song list's menu, opened by the menu key, in the real dialog:
// the next song sounds with it at the sink (here the file output), and still after a restart;
// a text file named .sf2 is said once and changes nothing.
void TestEndToEnd::soundFontIsChosenAndKept()
{
    const QString sf2 = u"/usr/share/sounds/sf2/"_s;
    if (!QFile::exists(sf2 + u"FluidR3_GM.sf2"_s) || !QFile::exists(sf2 + u"TimGM6mb.sf2"_s))
        QSKIP("needs FluidR3_GM.sf2 and TimGM6mb.sf2 (packages fluid-soundfont-gm and "
              "timgm6mb-soundfont)");
    const QString conf = work.filePath(u"soundFontIsChosenAndKept/Quavrel/Quavrel.conf"_s);
    QVERIFY(QDir().mkpath(QFileInfo(conf).path())
        && TestFiles::write(u"one.alp"_s, TestFiles::albumBytes({ songs[0] }))
        && TestFiles::write(conf,
            "[Startup]\nAlbum=" + work.filePath(u"one.alp"_s).toUtf8()
                + "\n[Sound]\nSoundFont=" + sf2.toUtf8() + "FluidR3_GM.sf2\n"));
    QVERIFY(TestFiles::write(u"notes.sf2"_s, "Sound!\n"));
    const auto started = [&] {
        start({});
        return QTest::qWaitFor(
                   [&] { return !(window = windows(AppTitle).value(0)).isEmpty(); }, Deadline)
            && step(u"ready"_s, {});
    };
    const auto play = [&] {
        return step(u"window"_s, u"alt+p"_s) && step(u"title"_s, u"First Tune"_s)
            && step(u"title"_s, AppTitle);
    };
    const auto choose = [&](const QString &path) {
        // The menu is a second window of the program.
        const QStringList menu { u"search"_s, u"--onlyvisible"_s, u"--classname"_s, u"quavrel"_s };
        return step(u"window"_s, u"Menu"_s)
            && QTest::qWaitFor([&] { return xdotool(menu).size() == 2; }, Deadline)
            && xdotool({ u"key"_s, u"f"_s }).isEmpty() && step(u"soundfont"_s, path);
    };
    // The first 1.5 s of each song, as the sink got it.
    std::vector<QByteArray> sounds;
    const auto heard = [&] {
        sounds.push_back(TestFiles::read(u"fluidsynth.wav"_s).mid(44, 4 * 66150));
        return sounds.back().size() == 4 * 66150;
    };
    QVERIFY(started() && play() && heard() && choose(sf2 + u"TimGM6mb.sf2"_s) && play() && heard());
    QVERIFY(
        choose(work.filePath(u"notes.sf2"_s)) && step(u"box"_s, u"Return"_s) && play() && heard());
    QCOMPARE(windows(AppTitle).size(), 1);
    QVERIFY(step(u"window"_s, u"close"_s) && quavrels.back()->waitForFinished(Deadline));
    QVERIFY(started() && play() && heard());
    // Songs played with one SoundFont differ by a few least significant bits: some of the
    // synthesizer's state carries on from song to song.
    const auto distance = [&](std::size_t a, std::size_t b) {
        qint64 sum = 0;
        for (qsizetype i = 0; i < sounds[a].size(); i += 2)
            sum += std::abs(qFromLittleEndian<qint16>(sounds[a].constData() + i)
                - qFromLittleEndian<qint16>(sounds[b].constData() + i));
        return sum;
    };
    QVERIFY2(distance(1, 2) * 20 < distance(0, 1) && distance(1, 3) * 20 < distance(0, 1),
        qPrintable(u"%1 %2 %3"_s.arg(distance(0, 1)).arg(distance(1, 2)).arg(distance(1, 3))));
    QCOMPARE(QSettings(conf, QSettings::IniFormat).value(u"Sound/SoundFont"_s).toString(),
        sf2 + u"TimGM6mb.sf2"_s);
}

// The font set-up comes before the application reads the fonts: DejaVu Sans is the only font.
int main(int argc, char *argv[])
{
    QTemporaryDir fonts;
    const QString config = fonts.filePath(u"fonts.conf"_s);
    if (!TestFiles::write(config,
            "<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>"
                + fonts.path().toUtf8() + "</cachedir></fontconfig>"))
        return 1;
    qputenv("FONTCONFIG_FILE", config.toUtf8());
    QApplication app(argc, argv);
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_end_to_end.moc"
