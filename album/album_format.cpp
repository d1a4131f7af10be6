#include "album/album_format.h"

#include "platform/file_names.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

namespace {

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

// The first c in [begin, end), or end.
const char *find(const char *begin, const char *end, char c)
{
    const void *found = std::memchr(begin, c, std::size_t(end - begin));
    return found != nullptr ? static_cast<const char *>(found) : end;
}

} // namespace

AlbumFormat::Reading AlbumFormat::read(QIODevice &file, const QString &path, int maxSongs)
{
    Reading reading;
    const auto refuse = [&](const QString &failure) {
        reading.songs.clear();
        reading.failure = failure;
        return reading;
    };
    if (file.size() > qint64(maxSongs) * (MaxLineBytes + 2))
        return refuse(QStringLiteral("%1 is too large to be an album.").arg(path));
    const auto tooLong = [&] {
        return refuse(QStringLiteral("%1 holds a line longer than %2 bytes, so it is no album.")
                          .arg(path)
                          .arg(MaxLineBytes));
    };

    // The file is read in blocks, so that a line too long to be a path is refused once
    // MaxLineBytes + 1 bytes of it are in, however long it goes on. Line breaks and the spaces
    // that start a line are passed over without being kept, so that no run of them, blank
    // lines or not, costs more than the time to read it; a line's length counts from its
    // first byte that is not a space.
    QByteArray block(64 * 1024, Qt::Uninitialized);
    QByteArray line;
    const auto endLine = [&] {
        const QByteArrayView song = trimSpaces(QByteArrayView(line));
        if (!song.isEmpty() && reading.songs.size() == maxSongs) {
            reading.cut = true;
            reading.failure = QStringLiteral("%1 holds more than %2 songs; only the first %2 were "
                                             "read. Saving the list over it would lose the rest.")
                                  .arg(path)
                                  .arg(maxSongs);
            return false;
        }
        if (!song.isEmpty())
            reading.songs.append(FileNames::decode(song));
        line.resize(0);
        return true;
    };
    for (;;) {
        const qint64 count = file.read(block.data(), block.size());
        if (count < 0)
            return refuse(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        const char *next = block.constData();
        const char *end = next + count;
        const char *lf = next; // the first LF at or after next, once looked for
        while (next != end) {
            while (line.isEmpty() && next != end && (isLineBreak(*next) || *next == ' '))
                ++next;
            if (lf <= next)
                lf = find(next, end, '\n');
            const char *lineEnd = find(next, lf, '\r');
            line.append(next, lineEnd - next);
            if (line.size() > MaxLineBytes)
                return tooLong();
            if (lineEnd == end)
                break;
            if (!endLine())
                return reading;
            next = lineEnd + 1;
        }
        if (count == 0)
            break;
    }
    endLine();
    return reading;
}

QByteArray AlbumFormat::write(const QStringList &paths)
{
    QByteArray bytes;
    for (const QString &path : paths)
        bytes += FileNames::encode(path) + "\r\n";
    return bytes;
}

bool AlbumFormat::canHold(QStringView path)
{
    return std::none_of(path.begin(), path.end(),
        [](QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); });
}

QString AlbumFormat::nameTooShort(const QString &path)
{
    return QStringLiteral("The file name of %1 is too short to give an album name.").arg(path);
}
