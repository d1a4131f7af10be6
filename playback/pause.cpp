#include "app/main_window.h"

#include <QPushButton>
#include <QTimer>

#include <utility>

// The desktop's media controls pause the song that plays and resume it; the window keeps its
// Playing state and its controls. While paused the poll timer stops, so that nothing wakes and
// the queue does not move on, and the title marks the song as paused.
void Form1::pauseCommand()
{
    if (Paused == 1 || Command1.at(5)->text() == QLatin1String("&Play"))
        return;
    sendMci(QStringLiteral("pause canyon"));
    Paused = 1;
    Timer1->stop();
    setWindowTitle(windowTitle() + PausedMark);
}

void Form1::resumeCommand()
{
    if (Paused != 1)
        return;
    sendMci(QStringLiteral("resume canyon"));
    endPause();
}

// Leaves the paused state, as resuming, Next Song and a close do: the title loses its mark and
// the poll timer runs again, so that the next tick finds the song playing or moves on.
void Form1::endPause()
{
    if (std::exchange(Paused, qint16(0)) != 1)
        return;
    setWindowTitle(windowTitle().chopped(PausedMark.size()));
    Timer1->start();
}
