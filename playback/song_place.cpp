#include "app/main_window.h"

#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <utility>

// The song's place, for the desktop's media controls: pause and resume, where the song is, how
// long it is, and seeking. Also the loudness of Quavrel's own sound.

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

// A number the sequencer answers to "status canyon <item>" (the song's position or length in
// milliseconds, the volume in thousandths); -1 when it answers none.
qint64 Form1::songStatus(const QString &item)
{
    QString answer;
    if (m_platform.sendCommand(QStringLiteral("status canyon ") + item, &answer, 128) != 0)
        return -1;
    bool number = false;
    const qint64 value = answer.toLongLong(&number);
    return number ? value : -1;
}

// Moves the song that plays, or is paused, to a place in milliseconds.
void Form1::seekCommand(qint64 ms)
{
    if (Command1.at(5)->text() != QLatin1String("&Play"))
        sendMci(QStringLiteral("seek canyon to %1").arg(std::max<qint64>(ms, 0)));
}

void Form1::setSongVolume(qint64 thousandths)
{
    sendMci(QStringLiteral("setaudio canyon volume to %1").arg(thousandths));
}
