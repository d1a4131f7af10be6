#include "app/main_window.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QItemSelectionModel>
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

// A release moves the entry noted at the press to the current entry's position: removed first,
// then inserted, so it ends exactly there, as a new item without a selection flag.
void Form1::List2_MouseUp(qint16 Button, qint16 Shift, float X, float Y)
{
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    DragToIndex = qint16(List2->currentRowIndex());
    if (DragToIndex == DragFromIndex)
        return;
    // A press that found no entry, or a list changed since, names nothing to move.
    const int count = songCount();
    if (DragFromIndex < 0 || DragFromIndex >= count || DragToIndex < 0 || DragToIndex >= count)
        return;
    delete List2->takeItem(DragFromIndex);
    List1.removeItem(DragFromIndex);
    insertSong(DragToIndex, DragPath, DragName);
    List2->setCurrentRowIndex(DragToIndex);
}

// 0 clears every selection flag, 1 inverts every one. Both act on the whole list in one step:
// flag by flag, the list widget's selection grows slower with every separate run it holds.
void Form1::OrganizeList_Click(qint16 Index)
{
    const int count = songCount();
    if (count == 0 || (Index != 0 && Index != 1))
        return;
    QItemSelectionModel *selection = List2->selectionModel();
    if (Index == 0) {
        selection->clearSelection();
        return;
    }
    // The gaps between the selected runs become the new selection.
    QItemSelection inverse;
    int next = 0;
    const auto addRange = [&](int first, int last) {
        if (first <= last)
            inverse.append(QItemSelectionRange(
                List2->model()->index(first, 0), List2->model()->index(last, 0)));
    };
    for (const auto &[first, last] : selectedSongRuns()) {
        addRange(next, first - 1);
        next = last + 1;
    }
    addRange(next, count - 1);
    // Cleared first: comparing the old selection with the new one costs their product.
    selection->clearSelection();
    selection->select(inverse, QItemSelectionModel::Select);
}

// The menu also opens from the keyboard's menu key, by the current song, and with a right press
// on the list while a song plays: the list is disabled then and List2_MouseDown does not run, but
// the SoundFont can be chosen.
void Form1::contextMenuEvent(QContextMenuEvent *event)
{
    const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
    if (!keyboard && (List2->isEnabled() || !List2->geometry().contains(event->pos()))) {
        event->ignore();
        return;
    }
    QPoint at = event->globalPos();
    if (keyboard) {
        const QListWidgetItem *current = List2->currentItem();
        const QRect place = current ? List2->visualItemRect(current) : QRect();
        at = List2->viewport()->mapToGlobal(
            List2->viewport()->rect().contains(place.center()) ? place.center() : QPoint(0, 0));
    }
    organize->exec(at);
}
