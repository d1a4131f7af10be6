#include "app/main_window.h"
#include "app/quit_signals.h"
#include "platform/qt_platform.h"
#include "platform/sequencer_device.h"

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setOrganizationName(QStringLiteral("Quavrel"));
    QIcon icon;
    for (const char *size : { "16", "32", "48", "128" })
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    SequencerDevice sequencer;
    QtPlatform platform([&sequencer](const QString &command, QString *reply, int replyLength) {
        return sequencer.sendCommand(command, reply, replyLength);
    });
    sequencer.setNoAudioHandler(
        [&platform](const QString &text) { platform.messageBox(text, MsgBox::OkOnly, AppTitle); });
    Form1 window(platform);
    // The synthesizer and the sound server connection are readied once the window is on screen:
    // started sooner, the loading contends with Qt's start-up and the window shows later.
    FirstPaint firstPaint([&sequencer] { sequencer.prepare(); });
    window.installEventFilter(&firstPaint);
    window.Form_Load();
    closeOnTerminationSignals(window);
    return QApplication::exec();
}
