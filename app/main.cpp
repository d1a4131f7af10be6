#include "app/main_window.h"
#include "app/quit_signals.h"
#include "platform/qt_platform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quavrel"));
    QApplication::setOrganizationName(QStringLiteral("Quavrel"));
    QtPlatform platform;
    Form1 window(platform);
    window.Form_Load();
    closeOnTerminationSignals(window);
    return QApplication::exec();
}
