#include "app/main_window.h"

#include <QLabel>

// Starts the desktop's own volume control; Quavrel never sets the volume itself. The hidden
// label holds the program's command line while it starts.
void Form1::volumeCommand()
{
    const QStringList commandLine = m_platform.findVolumeControl();
    Label4->setText(commandLine.join(QLatin1Char(' ')));
    const bool started = !commandLine.isEmpty() && m_platform.startProgram(commandLine);
    Label4->setText(QString());
    if (!started)
        m_platform.messageBox(
            QStringLiteral("No volume control program was found."), MsgBox::OkOnly, AppTitle);
}
