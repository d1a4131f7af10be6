#include "app/main_window.h"
#include "platform/qt_platform.h"
#include "platform/sequencer_device.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setOrganizationName(QStringLiteral("Quavrel"));
    SequencerDevice sequencer;
    QtPlatform platform([&sequencer](const QString &command, QString *reply, int replyLength) {
        return sequencer.sendCommand(command, reply, replyLength);
    });
    sequencer.setNoAudioHandler(
        [&platform](const QString &text) { platform.messageBox(text, MsgBox::OkOnly, AppTitle); });
    Form1 window(platform);
    window.Form_Load();
    return QApplication::exec();
}
