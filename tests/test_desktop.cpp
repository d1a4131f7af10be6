#include "app/main_window.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/smf_builder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusArgument>
#include <QDBusInterface>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

const QString Mpris = u"org.mpris.MediaPlayer2.quavrel"_s;
const QString Path = u"/org/mpris/MediaPlayer2"_s;
const QString Player = u"org.mpris.MediaPlayer2.Player"_s;
constexpr int Deadline = 30000;

// Quavrel on the desktop: the real program on a private session bus and X server, driven as the
// shell and the media keys drive it; and the window's captions with DejaVu Sans as the only font.
class DesktopTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup()
    {
        // Closed as the desktop closes programs at log-out; what does not close in time is killed.
        for (const auto &quavrel : quavrels) {
            quavrel->terminate();
            quavrel->waitForFinished(Deadline);
        }
        quavrels.clear();
    }
    void captionsFitTheFallbackFont();
    void mediaControlsAndLaterStarts();
    void runsAloneWithoutBusOrMediaName();

public Q_SLOTS:
    void propertiesChanged(const QString &, const QVariantMap &properties) { changed = properties; }

private:
    // Each test's Quavrels share a settings folder; all run in the test's working folder.
    QProcess *start(const QStringList &arguments)
    {
        qputenv("XDG_CONFIG_HOME", work.filePath(QTest::currentTestFunction()).toUtf8());
        quavrels.emplace_back(std::make_unique<QProcess>())
            ->setProcessChannelMode(QProcess::ForwardedChannels);
        quavrels.back()->start(u"" QUAVREL_BINARY_DIR "/quavrel"_s, arguments);
        return quavrels.back().get();
    }
    QVariant get(const char *name) { return QDBusInterface(Mpris, Path, Player).property(name); }
    void press(const QString &method) { QDBusInterface(Mpris, Path, Player).call(method); }
    QString playing(const char *key) { return get("Metadata").toMap().value(key).toString(); }
    QString url(const QString &name) { return QUrl::fromLocalFile(work.filePath(name)).toString(); }
    QStringList xdotool(const QString &arguments)
    {
        QProcess xdotool;
        xdotool.start(u"xdotool"_s, arguments.split(u' '));
        xdotool.waitForFinished(Deadline);
        return QString::fromUtf8(xdotool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir work;
    QProcess xvfb, bus;
    QVariantMap changed;
    std::vector<std::unique_ptr<QProcess>> quavrels;
};

void DesktopTest::initTestCase()
{
    for (const char *tool : { "Xvfb", "xdotool", "dbus-daemon" })
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs Xvfb, xdotool and dbus-daemon (packages xvfb, xdotool, dbus)");
    QVERIFY(QDir::setCurrent(work.path()) && QDir().mkdir(u"songs"_s));
    for (const QString &song : u"a.mid b.mid c.mid songs/a.mid songs/b.mid"_s.split(u' '))
        QVERIFY(SmfBuilder::writeFile(song, SmfBuilder::oneNoteSong(60000, 60000)));
    // A session bus of its own that starts no services (no accessibility bus, no dconf), and an X
    // server that does not reset (and refuse connections) whenever its last client leaves.
    QVERIFY(TestFiles::write(u"bus.conf"_s, R"(<busconfig><listen>unix:tmpdir=/tmp</listen><policy
        context="default"><allow send_destination="*"/><allow eavesdrop="true"/><allow own="*"/>
        </policy></busconfig>)"));
    bus.start(u"dbus-daemon"_s, u"--nofork --print-address=1 --config-file=bus.conf"_s.split(u' '));
    xvfb.start(u"Xvfb"_s, u"-displayfd 1 -nolisten tcp -noreset"_s.split(u' '));
    for (QProcess *server : { &bus, &xvfb })
        QTRY_VERIFY_WITH_TIMEOUT(server->canReadLine(), Deadline);
    // Set before the test's own bus connection is made; the programs started inherit it all.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    qputenv("DISPLAY", ':' + xvfb.readLine().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QVERIFY(QDBusConnection::sessionBus().connect(Mpris, Path, u"org.freedesktop.DBus.Properties"_s,
        u"PropertiesChanged"_s, this, SLOT(propertiesChanged(QString, QVariantMap))));
}

// Where Liberation Sans is missing, each caption fits its control's box as the style lays it
// out, at the largest size that fits.
void DesktopTest::captionsFitTheFallbackFont()
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

// A started Quavrel plays those of its files that exist and end in .mid; the media controls press
// the window's buttons (Play only starts; PlayPause and Pause stop) and every change is announced.
// A later start while a message box is open returns at once, and its files wait for the box to
// close, then play; the blocked window takes no media requests.
void DesktopTest::mediaControlsAndLaterStarts()
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
    for (const QString &method : { u"Pause"_s, u"PlayPause"_s, u"PlayPause"_s, u"PlayPause"_s }) {
        const QString before = get("PlaybackStatus").toString();
        press(method);
        QTRY_VERIFY_WITH_TIMEOUT(get("PlaybackStatus").toString() != before, Deadline);
    }

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
    xdotool(u"key Return"_s);
    QTRY_COMPARE_WITH_TIMEOUT(playing("xesam:url"), url(u"songs/b.mid"_s), Deadline);
    QDBusInterface(Mpris, Path, u"org.mpris.MediaPlayer2"_s).call(u"Quit"_s);
    QVERIFY(quavrels.front()->waitForFinished(Deadline) && quavrels.front()->exitCode() == 0);
}

// With the media player's name owned by another program, Quavrel runs without it and is still
// the one Quavrel: a later start hands its files over, and one without files only raises it.
// Without a session bus, Quavrel starts alone, as it always has, and plays its files.
void DesktopTest::runsAloneWithoutBusOrMediaName()
{
    QVERIFY(QDBusConnection::sessionBus().registerService(Mpris));
    start({ u"a.mid"_s });
    QTRY_COMPARE_WITH_TIMEOUT(xdotool(u"search --name ^a$"_s).size(), 1, Deadline);
    for (const QStringList &arguments : { QStringList { u"b.mid"_s }, QStringList {} }) {
        QProcess *later = start(arguments);
        QVERIFY(later->waitForFinished(Deadline) && later->exitCode() == 0);
    }
    QTRY_COMPARE_WITH_TIMEOUT(xdotool(u"search --name ^b$"_s).size(), 1, Deadline);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=no-bus");
    start({ u"a.mid"_s });
    QTRY_COMPARE_WITH_TIMEOUT(xdotool(u"search --name ^a$"_s).size(), 1, Deadline);
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
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop.moc"
