#include "app/command_line.h"
#include "app/main_window.h"
#include "desktop/desktop_session.h"
#include "platform/qt_platform.h"
#include "platform/termination_signals.h"
#include "sequencer/sequencer_device.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>

#include <functional>
#include <utility>

namespace {

// Runs a function once, when the widget it watches is first painted.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(std::function<void()> function)
        : m_function(std::move(function))
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_function) {
            watched->removeEventFilter(this);
            std::exchange(m_function, {})();
        }
        return false;
    }

private:
    std::function<void()> m_function;
};

} // namespace

int main(int argc, char *argv[])
{
    CommandLine commandLine(argc, argv);
    if (commandLine.answered())
        return 0;
    QApplication app(commandLine.qtArgumentCount(), argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setOrganizationName(QStringLiteral("Quavrel"));
    // Caught from here on; they are handled once the window is there.
    TerminationSignals terminationSignals;
    // A Quavrel that already runs takes the files of this start, and this one ends.
    DesktopSession desktop(commandLine.files());
    if (desktop.handedOver())
        return 0;
    QIcon icon;
    for (const char *size : { "16", "32", "48", "128" })
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    SequencerDevice sequencer;
    QtPlatform platform([&sequencer](const QString &command, QString *reply, int replyLength) {
        return sequencer.sendCommand(command, reply, replyLength);
    });
    Form1 window(platform);
    platform.setWindow(&window);
    // Shown from the event loop, not inside the command that found the problem: the player goes
    // on while the box is open.
    sequencer.setMessageHandler([&platform, &window](const QString &text) {
        QMetaObject::invokeMethod(
            &window, [&platform, text] { platform.messageBox(text, MsgBox::OkOnly, AppTitle); },
            Qt::QueuedConnection);
    });
    // The mixer's changes reach the media controls from the event loop.
    sequencer.setVolumeHandler([&window] {
        QMetaObject::invokeMethod(&window, &Form1::songVolumeChanged, Qt::QueuedConnection);
    });
    // The synthesizer and the sound server connection are readied once the window is on screen:
    // started sooner, the loading contends with Qt's start-up and the window shows later.
    FirstPaint firstPaint([&sequencer] { sequencer.prepare(); });
    window.installEventFilter(&firstPaint);

    // A termination signal (the session ending, Ctrl+C, a closed terminal) closes the window as
    // its close button does, and the program ends once that close is through, whatever the answer
    // to the save question; the entry then names the album just saved, if any. One that comes
    // while a close is still asking finds no second close to start (Qt starts none), and ends the
    // program at once. One that comes during start-up ends it the same way: start-up finishes the
    // step it is in (reading the album, or starting the files given) and goes no further.
    bool ending = false;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &window, [&] {
        ending = true;
        window.close();
        window.rememberAlbum();
        // Every event loop ends, and with it every box and dialog still open (a box asking only
        // OK as if answered); until the main loop runs, every one after it ends as it opens.
        QCoreApplication::exit(0);
    });
    window.Form_Load();
    if (!ending)
        desktop.serve(window, platform);
    const int code = ending ? 0 : QApplication::exec();
    sequencer.setVolumeHandler({});
    return code;
}
