#include "app/main_window.h"

#include <QItemSelectionModel>
#include <QLabel>

#include <algorithm>

namespace {

// Up to this many separate runs of selected songs are taken out run by run; more are taken
// out by building the list again from the songs that stay, which costs one pass over the list.
constexpr std::size_t RunByRunLimit = 32;

} // namespace

// Clear: after a Yes, empties the song list and forgets the current album.
void Form1::clearCommand()
{
    const int answer = platform().messageBox(QStringLiteral("Remove all files from the song list?"),
        MsgBox::YesNo + MsgBox::Question, AppTitle);
    if (answer != MsgBox::IdYes)
        return;
    clearSongs();
    album->setText(QString());
    AlbumPath = QString();
}

// Remove: after a Yes, takes out the selected songs from the top down, letting pending events
// run between passes; every pass reads the list and its flags afresh, since a handler that ran
// in between may have changed them.
void Form1::removeCommand()
{
    if (songCount() == 0)
        return;
    if (selectedSongRuns().empty()) {
        platform().messageBox(
            QStringLiteral("Please select song(s) to remove."), MsgBox::OkOnly, AppTitle);
        return;
    }
    const int answer
        = platform().messageBox(QStringLiteral("Remove selected files from the song list?"),
            MsgBox::YesNo + MsgBox::Question, AppTitle);
    if (answer != MsgBox::IdYes)
        return;

    while (removeSelectedSongs() > 0)
        platform().processEvents();

    AlbumChanged = 1;
    if (songCount() == 0) {
        album->setText(QString());
        AlbumPath = QString();
    }
}

// The selected songs as sorted, separate runs of positions [first, last].
std::vector<std::pair<int, int>> Form1::selectedSongRuns() const
{
    std::vector<std::pair<int, int>> ranges;
    const QItemSelection selection = List2->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.isValid())
            ranges.emplace_back(range.top(), range.bottom());
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<int, int>> runs;
    for (const auto &range : ranges) {
        if (!runs.empty() && range.first <= runs.back().second + 1)
            runs.back().second = std::max(runs.back().second, range.second);
        else
            runs.push_back(range);
    }
    return runs;
}

// Takes out every selected song and returns how many went. The result is that of removing the
// first selected song again and again with nothing in between; it is done in bulk because the
// list widget takes rows out one by one in time proportional to the list and its selection.
int Form1::removeSelectedSongs()
{
    const std::vector<std::pair<int, int>> runs = selectedSongRuns();
    int removed = 0;
    for (const auto &run : runs)
        removed += run.second - run.first + 1;
    if (removed == 0)
        return 0;

    if (runs.size() <= RunByRunLimit) {
        // From the bottom up, so that the positions of the runs above stay valid.
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            const int length = run->second - run->first + 1;
            List1.removeItems(run->first, length);
            List2->model()->removeRows(run->first, length);
        }
        return removed;
    }

    // Many runs: keep the songs between them, with the current entry and the top of the view.
    const int count = songCount();
    const int current = List2->currentRowIndex();
    const QModelIndex topIndex = List2->indexAt(QPoint(0, 0));
    const int top = topIndex.isValid() ? topIndex.row() : 0;
    QStringList paths;
    QStringList names;
    paths.reserve(count - removed);
    names.reserve(count - removed);
    int newCurrent = -1;
    int newTop = 0;
    auto run = runs.cbegin();
    for (int position = 0; position < count; ++position) {
        if (position == current)
            newCurrent = int(names.size());
        if (position == top)
            newTop = int(names.size());
        if (run != runs.cend() && position > run->second)
            ++run;
        if (run != runs.cend() && position >= run->first)
            continue;
        paths.append(List1.item(position));
        names.append(List2->item(position)->text());
    }
    List1.setItems(std::move(paths));
    List2->clear();
    List2->addItems(names);
    if (!names.isEmpty()) {
        List2->setCurrentRowIndex(std::min(newCurrent, int(names.size()) - 1));
        List2->scrollToItem(
            List2->item(std::min(newTop, int(names.size()) - 1)), QAbstractItemView::PositionAtTop);
    }
    return removed;
}
