#include "app/main_window.h"
#include "platform/twips.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <cmath>

// Returns the window to Idle: every editing control enabled, the sequencer closed, the play
// queue empty. Lets no pending events run, so nothing interleaves with it.
void Form1::ButsOn()
{
    Timer1->stop();
    Paused = 0;
    setWindowTitle(AppTitle);
    Command1.at(5)->setText(QStringLiteral("&Play"));
    Command1.at(6)->setEnabled(false);
    for (int index : EditingButtons)
        Command1.at(index)->setEnabled(true);
    PlySelOnly->setEnabled(true);
    Random->setEnabled(true);
    List2->setEnabled(true);
    sendMci(QStringLiteral("close canyon"));
    List3.clear();
}

// Gives the song list a long sideways scroll range: its width in twips plus 100, as pixels.
void Form1::Form_Paint()
{
    const float twips = float(List2->width() * TwipsPerPixel) + 100.0f;
    const auto extent = qint16(std::nearbyint(twips));
    List2->setHorizontalExtent(extent);
}
