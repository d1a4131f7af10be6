#include "app/main_window.h"

void Form1::addCommand() { }

qint32 Form1::BreakMultiApart(const QString &szWords, QStringList &szArray)
{
    Q_UNUSED(szWords);
    Q_UNUSED(szArray);
    return 0;
}

void Form1::List2_OLEDragDrop(
    const QStringList &Data, qint32 &Effect, qint16 Button, qint16 Shift, float X, float Y)
{
    Q_UNUSED(Data);
    Q_UNUSED(Effect);
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
}
