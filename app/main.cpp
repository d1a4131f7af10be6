#include "app/main_window.h"
#include "app/quit_signals.h"
#include "platform/qt_platform.h"
#include "platform/sequencer_device.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // The synthesizer and the sound server connection are readied while the window is built.
    SequencerDevice sequencer;
    sequencer.prepare();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setOrganizationName(QStringLiteral("Quavrel"));
    QIcon icon;
    for (const char *size : { "16", "32", "48", "128" })
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    QtPlatform platform([&sequencer](const QString &command, QString *reply, int replyLength) {
        return sequencer.sendCommand(command, reply, replyLength);
    });
    sequencer.setNoAudioHandler(
        [&platform](const QString &text) { platform.messageBox(text, MsgBox::OkOnly, AppTitle); });
    Form1 window(platform);
    window.Form_Load();
    closeOnTerminationSignals(window);
    return QApplication::exec();
}
