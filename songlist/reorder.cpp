#include "app/main_window.h"

#include <QCursor>
#include <QMenu>

// A press notes the current entry (the one under the pointer) so that the release can move it.
void Form1::List2_MouseDown(qint16 Button, qint16 Shift, float X, float Y)
{
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    DragFromIndex = qint16(List2->currentRowIndex());
    List1.setListIndex(DragFromIndex);
    const QListWidgetItem *current = List2->currentItem();
    DragName = current != nullptr ? current->text() : QString();
    DragPath = List1.currentText();
    if (Button == 2)
        organize->exec(QCursor::pos());
}

void Form1::List2_MouseUp(qint16 Button, qint16 Shift, float X, float Y)
{
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
}

void Form1::OrganizeList_Click(qint16 Index)
{
    Q_UNUSED(Index);
}
