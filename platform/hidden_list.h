#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>
#include <utility>

// A list box that is never shown: items kept in insertion order, reached by row, with a current
// row (-1 for none). Holds the song paths and the play queue.
class HiddenList
{
public:
    int count() const { return int(m_items.size()); }
    const QString &item(int row) const { return m_items.at(row); }
    const QStringList &items() const { return m_items; }

    void addItem(const QString &text) { m_items.append(text); }
    // Inserts before row; a row past the end appends.
    void insertItem(int row, const QString &text)
    {
        m_items.insert(std::clamp(row, 0, count()), text);
    }
    void removeItem(int row)
    {
        if (row < 0 || row >= count())
            return;
        m_items.removeAt(row);
        if (m_current >= count())
            m_current = -1;
    }
    // Removes count items from row on; rows outside the list are left alone.
    void removeItems(int row, int count)
    {
        const int first = std::clamp(row, 0, this->count());
        const int last = std::clamp(row + count, first, this->count());
        m_items.remove(first, last - first);
        if (m_current >= this->count())
            m_current = -1;
    }
    // Replaces every item at once; the current row stays if it is still inside the list.
    void setItems(QStringList items)
    {
        m_items = std::move(items);
        if (m_current >= count())
            m_current = -1;
    }
    void clear()
    {
        m_items.clear();
        m_current = -1;
    }

    void setListIndex(int row) { m_current = (row >= 0 && row < count()) ? row : -1; }
    // The text of the current item, empty when there is none.
    QString currentText() const { return m_current >= 0 ? m_items.at(m_current) : QString(); }

private:
    QStringList m_items;
    int m_current = -1;
};
