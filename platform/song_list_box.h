#pragma once

#include <QListWidget>
#include <QStringList>

// The visible song list: a list box with simple multiple selection. A left press toggles the
// entry under the pointer and makes it current; moving with a button held moves only the current
// entry with the pointer; Shift and Ctrl add nothing. Positions reported to the window are in
// twips (15 to a pixel). Drops of local files are handed on as paths.
class SongListBox : public QListWidget
{
    Q_OBJECT

public:
    explicit SongListBox(QWidget *parent = nullptr);

    // Whether the entry at row is selected.
    bool isRowSelected(int row) const;

    // The current entry's row, or -1; setting it changes no selection flag.
    int currentRowIndex() const;
    void setCurrentRowIndex(int row);

    // The width in pixels over which the list scrolls sideways (0: only as wide as its items).
    void setHorizontalExtent(int pixels);
    int horizontalExtent() const { return m_horizontalExtent; }

Q_SIGNALS:
    // button: 1 left, 2 right, 4 middle; shift: 1 Shift, 2 Ctrl, 4 Alt; x, y in twips.
    void mouseDown(int button, int shift, float x, float y);
    void mouseUp(int button, int shift, float x, float y);
    void filesDropped(const QStringList &paths, int button, int shift, float x, float y);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void updateGeometries() override;

private:
    void pressAt(QMouseEvent *event);

    int m_horizontalExtent = 0;
    Qt::MouseButtons m_heldButtons;
};
