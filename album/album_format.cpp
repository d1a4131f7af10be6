#include "album/album_format.h"

#include "platform/file_names.h"

#include <QIODevice>

#include <algorithm>

namespace {

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
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

    // The file is read in blocks, so that a line too long to be a path is refused once its
    // first MaxLineBytes + 1 bytes are in, however long it goes on.
    QByteArray block(64 * 1024, Qt::Uninitialized);
    QByteArray line;
    const auto endLine = [&] {
        const QString text = FileNames::decode(line);
        line.clear();
        const QStringView song = trimSpaces(text);
        if (song.isEmpty())
            return true;
        if (reading.songs.size() == maxSongs) {
            reading.cut = true;
            reading.failure = QStringLiteral("%1 holds more than %2 songs; only the first %2 were "
                                             "read. Saving the list over it would lose the rest.")
                                  .arg(path)
                                  .arg(maxSongs);
            return false;
        }
        reading.songs.append(song.toString());
        return true;
    };
    for (;;) {
        const qint64 count = file.read(block.data(), block.size());
        if (count < 0)
            return refuse(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
        const char *next = block.constData();
        const char *end = next + count;
        while (next != end) {
            const char *lineEnd = std::find_if(next, end, isLineBreak);
            line.append(next, lineEnd - next);
            if (line.size() > MaxLineBytes) {
                return refuse(QStringLiteral("%1 holds a line longer than %2 bytes, so it is no "
                                             "album.")
                                  .arg(path)
                                  .arg(MaxLineBytes));
            }
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

QStringView AlbumFormat::trimSpaces(QStringView text)
{
    while (!text.isEmpty() && text.front() == QLatin1Char(' '))
        text = text.sliced(1);
    while (!text.isEmpty() && text.back() == QLatin1Char(' '))
        text.chop(1);
    return text;
}
