#pragma once

#include <QString>
#include <QStringList>

class QIODevice;

// The album file: one song path per line, each line ending in CR LF. Paths are file-name bytes,
// kept as FileNames decodes them, so that a line reads back and is written back unchanged.
namespace AlbumFormat {

// No path on this system is longer, so no album line is either.
inline constexpr qsizetype MaxLineBytes = 4096;

struct Reading
{
    // The entries read, in file order.
    QStringList songs;
    // Why the album was refused or cut short; empty when it was read whole.
    QString failure;
    // Reading stopped at the song limit: songs holds the first entries, as many as the limit.
    bool cut = false;
};

// Reads the album from file (path names it in failures). A line ends at LF, CR LF or a CR
// alone; spaces around it are dropped, and a line left blank is skipped. A file larger than
// maxSongs lines of MaxLineBytes, a line longer than MaxLineBytes past its leading spaces or a
// read error refuses the album, with no entry; an entry past maxSongs cuts it.
Reading read(QIODevice &file, const QString &path, int maxSongs);

// The album holding paths, as it is written.
QByteArray write(const QStringList &paths);

// Whether an album line can hold the path: not when it holds a line break.
bool canHold(QStringView path);

// The failure of a path whose file name is too short to give an album name.
QString nameTooShort(const QString &path);

// The text (QStringView or QByteArrayView) without its leading and trailing spaces (U+0020
// only; tabs and other blanks stay).
template <typename View> View trimSpaces(View text)
{
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    return text;
}

} // namespace AlbumFormat
