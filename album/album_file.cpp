#include "album/album_format.h"
#include "app/main_window.h"
#include "platform/file_names.h"
#include "platform/regular_file.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <cerrno>

namespace {

QString openFailure(const QString &path, int error)
{
    switch (error) {
    case ENOENT:
        if (!path.isEmpty() && !FileNames::isFolder(QFileInfo(path).absolutePath()))
            return QStringLiteral("Path not found: %1").arg(path);
        return QStringLiteral("File not found: %1").arg(path);
    case RegularFile::Folder:
        return QStringLiteral("%1 is a folder, not an album file.").arg(path);
    case RegularFile::NotRegular:
        return QStringLiteral("%1 is not a regular file, so it cannot be an album.").arg(path);
    default:
        return QStringLiteral("Cannot open %1: %2").arg(path, qt_error_string(error));
    }
}

} // namespace

bool Form1::albumName(const QString &path, QString &name) const
{
    const QString fileName = StripPath(path);
    if (fileName.size() < 4)
        return false;
    name = fileName.chopped(4);
    return true;
}

// The album is read whole before the window changes: a file that is no album changes nothing,
// as one that cannot be opened. An album longer than the list is read as far as the list goes.
Form1::AlbumRead Form1::ReadAlbum(const QString &path, bool setAlbumPath, QString *failure)
{
    const auto fail = [&](const QString &description) {
        if (failure != nullptr)
            *failure = description;
        return AlbumRead::Failed;
    };

    QFile file;
    if (const int error = RegularFile::open(path, file))
        return fail(openFailure(path, error));
    const AlbumFormat::Reading reading = AlbumFormat::read(file, path, MaxSongs);
    file.close();
    if (!reading.cut && !reading.failure.isEmpty())
        return fail(reading.failure);
    if (setAlbumPath)
        AlbumPath = path;
    QString name;
    if (!albumName(path, name))
        return fail(AlbumFormat::nameTooShort(path));
    album->setText(name);
    clearSongs();
    m_platform.processEvents();
    for (const QString &song : reading.songs)
        appendSong(song, displayName(song));
    if (reading.cut) {
        fail(reading.failure);
        return AlbumRead::Cut;
    }
    return AlbumRead::Whole;
}

// Writes every byte of the album or fails: a short write is retried, so that a full disk fails
// here with the system's description.
bool Form1::WriteAlbum(QIODevice &file)
{
    const QByteArray bytes = AlbumFormat::write(List1.items());
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + done, bytes.size() - done);
        if (count <= 0)
            return false;
        done += count;
    }
    return true;
}
