#include "app/main_window.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <vector>

// Play (caption "&Play") builds the play queue from the song list, or from its selected songs,
// in order or shuffled, switches the window to Playing and starts the first song at once.
// Pressed while it reads "S&top", it returns the window to Idle.
void Form1::playCommand()
{
    if (List1.count() == 0)
        return;
    if (Command1.at(5)->text() != QLatin1String("&Play")) {
        ButsOn();
        return;
    }

    enterPlaying();

    // Candidates fill slots 1..m; slot 0 is never used. An empty slot is one never filled or
    // already taken into the queue.
    const int songs = List1.count();
    std::vector<QString> slots(size_t(songs) + 1);
    int m = 0;
    const bool selectedOnly = PlySelOnly->isChecked();
    for (int row = 0; row < songs; ++row) {
        if (!selectedOnly || List2->isRowSelected(row))
            slots.at(size_t(++m)) = List1.item(row);
    }

    if (Random->isChecked() && m > 1) {
        // Every draw is uniform over slots 1..n, redrawn while it lands on an empty slot, so
        // each candidate is queued once and every order is equally likely.
        Rnd.seed(m_platform.clockSeed());
        const int n = songs;
        for (int taken = 0; taken < m; ++taken) {
            int k = 0;
            do {
                k = int(Rnd.bounded(n)) + 1;
            } while (slots.at(size_t(k)).isEmpty());
            List3.addItem(slots.at(size_t(k)));
            slots.at(size_t(k)).clear();
        }
    } else {
        for (int slot = 1; slot <= m; ++slot)
            List3.addItem(slots.at(size_t(slot)));
    }

    startQueue();
}

// Songs handed in from outside the window (the command line, another Quavrel) join the end of
// the song list by the drop rules and play on their own, as if Play had been pressed with just
// them as the queue. A song that plays stops first, as Stop would. The selection, the check boxes
// and the rest of the list stay as they are.
void Form1::playFiles(const QStringList &paths)
{
    const int first = songCount();
    qint32 effect = 0;
    List2_OLEDragDrop(paths, effect, 0, 0, 0.0f, 0.0f);
    if (songCount() == first)
        return;
    if (Command1.at(5)->text() != QLatin1String("&Play"))
        ButsOn();

    enterPlaying();
    for (int row = first; row < songCount(); ++row)
        List3.addItem(List1.item(row));
    startQueue();
}

// The first steps of Play: the window switches to Playing and the play queue is emptied.
void Form1::enterPlaying()
{
    Command1.at(5)->setText(QStringLiteral("S&top"));
    Command1.at(6)->setEnabled(true);
    PlySelOnly->setEnabled(false);
    Random->setEnabled(false);
    List2->setEnabled(false);
    for (int index : EditingButtons)
        Command1.at(index)->setEnabled(false);

    List3.clear();
    m_platform.processEvents();
}

// The last steps of Play, once the queue is built: the first song starts at once, then the timer
// polls every second.
void Form1::startQueue()
{
    CurrentSong = -1;
    m_platform.processEvents();
    Timer1_Timer();
    m_platform.processEvents();
    Timer1->start();
    Timer1->setInterval(1000);
}

// The poll: while the sequencer plays, nothing to do; otherwise start the next queued song, or
// return to Idle when the queue is used up. A tick that arrives while one is being handled
// (from the message box or a pending-events call) returns at once.
void Form1::Timer1_Timer()
{
    if (TimerBusy == 1)
        return;
    TimerBusy = 1;

    if (SkipRequested == 1) {
        SkipRequested = 0;
        Command1.at(6)->setEnabled(true);
    } else if (songIsPlaying()) {
        TimerBusy = 0;
        return;
    }

    m_platform.setWaitCursor(true);
    ++CurrentSong;
    if (CurrentSong >= List3.count()) {
        ButsOn();
        m_platform.setWaitCursor(false);
        m_platform.processEvents();
        TimerBusy = 0;
        return;
    }

    const QString song = List3.item(CurrentSong);
    if (Exists(song)) {
        // The file name less its last four characters (the ".mid"); a shorter name shows whole.
        const QString name = StripPath(song);
        setWindowTitle(name.size() >= 4 ? name.left(name.size() - 4) : name);
    } else {
        m_platform.messageBox(
            QStringLiteral("The file ") + song + QStringLiteral(" was not found."),
            MsgBox::SystemModal | MsgBox::Critical, AppTitle);
    }

    sendMci(QStringLiteral("close canyon"));
    sendMci(QStringLiteral("open ") + GetShortName(song)
        + QStringLiteral(" type sequencer alias canyon"));
    sendMci(QStringLiteral("play canyon"));

    m_platform.setWaitCursor(false);
    TimerBusy = 0;
}

// Cuts the current song short, also a paused one; the next tick starts the following one.
void Form1::nextSongCommand()
{
    sendMci(QStringLiteral("close canyon"));
    SkipRequested = 1;
    m_platform.setWaitCursor(true);
    Command1.at(6)->setEnabled(false);
    endPause();
}
