#include "app/main_window.h"
#include "app/quit_signals.h"
#include "desktop/desktop_session.h"
#include "platform/qt_platform.h"
#include "platform/sequencer_device.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setOrganizationName(QStringLiteral("Quavrel"));
    // A Quavrel that already runs takes the files of this start, and this one ends.
    DesktopSession desktop(DesktopSession::absolutePaths(QApplication::arguments().mid(1)));
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
    sequencer.setNoAudioHandler(
        [&platform](const QString &text) { platform.messageBox(text, MsgBox::OkOnly, AppTitle); });
    Form1 window(platform);
    window.Form_Load();
    desktop.serve(window, platform);
    closeOnTerminationSignals(window);
    return QApplication::exec();
}
