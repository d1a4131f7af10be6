#include "platform/song_list_box.h"

#include "platform/file_names.h"
#include "platform/twips.h"

#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QUrl>

namespace {

int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

int shiftCode(Qt::KeyboardModifiers modifiers)
{
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0)
        | (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0)
        | (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

QStringList localFiles(const QMimeData *data)
{
    QStringList paths;
    if (data == nullptr || !data->hasUrls())
        return paths;
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths.append(FileNames::fromFileUrl(url));
    }
    return paths;
}

} // namespace

SongListBox::SongListBox(QWidget *parent)
    : QListWidget(parent)
{
    // MultiSelection lets the keyboard toggle entries; the mouse is handled here so that a drag
    // never selects what it passes over.
    setSelectionMode(QAbstractItemView::MultiSelection);
    setSortingEnabled(false);
    setDragEnabled(false);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setUniformItemSizes(true);
}

bool SongListBox::isRowSelected(int row) const
{
    const QListWidgetItem *entry = item(row);
    return entry != nullptr && entry->isSelected();
}

int SongListBox::currentRowIndex() const
{
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void SongListBox::setCurrentRowIndex(int row)
{
    if (row < 0 || row >= count()) {
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

void SongListBox::setHorizontalExtent(int pixels)
{
    // Called on every repaint of the window: only a new value may touch the geometry.
    if (pixels == m_horizontalExtent)
        return;
    m_horizontalExtent = pixels;
    // A bar that came and went with the range would resize the viewport, which lays the list out
    // again and resets the range: endless recursion once the vertical bar shows too. An extent
    // keeps the bar shown, as it is wider than the list anyway.
    setHorizontalScrollBarPolicy(pixels > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    updateGeometries();
}

void SongListBox::updateGeometries()
{
    QListWidget::updateGeometries();
    if (m_horizontalExtent > 0) {
        QScrollBar *bar = horizontalScrollBar();
        const int range = std::max(0, m_horizontalExtent - viewport()->width());
        if (bar->maximum() != range || bar->minimum() != 0)
            bar->setRange(0, range);
        if (bar->pageStep() != viewport()->width())
            bar->setPageStep(viewport()->width());
    }
}

void SongListBox::pressAt(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        if (event->button() == Qt::LeftButton)
            selectionModel()->select(index, QItemSelectionModel::Toggle);
    }
    setFocus(Qt::MouseFocusReason);
}

void SongListBox::mousePressEvent(QMouseEvent *event)
{
    pressAt(event);
    m_heldButtons = event->buttons();
    Q_EMIT mouseDown(buttonCode(event->button()), shiftCode(event->modifiers()),
        float(event->position().x()) * float(TwipsPerPixel),
        float(event->position().y()) * float(TwipsPerPixel));
    event->accept();
}

void SongListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click toggles like any press but starts no new drag.
    pressAt(event);
    m_heldButtons = event->buttons();
    event->accept();
}

void SongListBox::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::NoButton || m_heldButtons == Qt::NoButton) {
        event->accept();
        return;
    }
    // Only the current entry follows the pointer; outside the entries it stays where it is.
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && index != currentIndex())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    event->accept();
}

void SongListBox::mouseReleaseEvent(QMouseEvent *event)
{
    m_heldButtons = event->buttons();
    Q_EMIT mouseUp(buttonCode(event->button()), shiftCode(event->modifiers()),
        float(event->position().x()) * float(TwipsPerPixel),
        float(event->position().y()) * float(TwipsPerPixel));
    event->accept();
}

void SongListBox::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void SongListBox::dragMoveEvent(QDragMoveEvent *event)
{
    // File managers keep asking while the pointer moves; refusing here would refuse the drop.
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void SongListBox::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    const QStringList paths = localFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    const QPointF at = event->position();
    int button = 0;
    if (event->buttons().testFlag(Qt::LeftButton))
        button = 1;
    Q_EMIT filesDropped(paths, button, shiftCode(event->modifiers()),
        float(at.x()) * float(TwipsPerPixel), float(at.y()) * float(TwipsPerPixel));
}
