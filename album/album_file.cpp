#include "album/album_file.h"
#include "app/main_window.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// An album is plain text: one song path per line, UTF-8, each line ending in CR LF.

namespace {

QByteArrayView trimmedSpaces(QByteArrayView line)
{
    while (!line.isEmpty() && line.front() == ' ')
        line = line.sliced(1);
    while (!line.isEmpty() && line.back() == ' ')
        line.chop(1);
    return line;
}

QString openFailure(const QString &path, int error)
{
    if (error == ENOENT) {
        if (!path.isEmpty() && !QFileInfo(QFileInfo(path).absolutePath()).isDir())
            return QStringLiteral("Path not found: %1").arg(path);
        return QStringLiteral("File not found: %1").arg(path);
    }
    return QStringLiteral("Cannot open %1: %2").arg(path, qt_error_string(error));
}

QString notAFile(const QString &path, bool folder)
{
    return folder ? QStringLiteral("%1 is a folder, not an album file.").arg(path)
                  : QStringLiteral("%1 is not a regular file, so it cannot be an album.").arg(path);
}

// Opens a regular file for reading. Anything else (a folder, a FIFO, a device) is refused before
// it is read from, and the open itself never waits: a FIFO without a writer would block a plain
// open, so the file is opened non-blocking and its type checked again on the open descriptor.
bool openRegularFile(const QString &path, QFile &file, QString &failure)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        failure = openFailure(path, ENOENT);
        return false;
    }
    if (!info.isFile()) {
        failure = notAFile(path, info.isDir());
        return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        failure = openFailure(path, errno);
        return false;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        failure = notAFile(path, S_ISDIR(status.st_mode));
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        failure = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString AlbumFormat::trimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.sliced(first, last - first);
}

QString AlbumFormat::nameTooShort(const QString &path)
{
    return QStringLiteral("The file name of %1 is too short to give an album name.").arg(path);
}

bool Form1::albumName(const QString &path, QString &name) const
{
    const QString fileName = StripPath(path);
    if (fileName.size() < 4)
        return false;
    name = fileName.chopped(4);
    return true;
}

bool Form1::ReadAlbum(const QString &path, bool setAlbumPath, QString *failure)
{
    QString reason;
    const auto fail = [&](const QString &description) {
        if (failure != nullptr)
            *failure = description;
        return false;
    };

    QFile file;
    if (!openRegularFile(path, file, reason))
        return fail(reason);
    if (setAlbumPath)
        AlbumPath = path;
    QString name;
    if (!albumName(path, name))
        return fail(AlbumFormat::nameTooShort(path));
    album->setText(name);
    clearSongs();
    m_platform.processEvents();

    // Read line by line, so that reading stops as soon as the list is full. A line ends at LF,
    // with or without a CR before it; the last line needs no ending.
    for (;;) {
        const QByteArray raw = file.readLine();
        if (raw.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                return fail(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
            break;
        }
        QByteArrayView line(raw);
        if (line.endsWith('\n')) {
            line.chop(1);
            if (line.endsWith('\r'))
                line.chop(1);
        }
        line = trimmedSpaces(line);
        if (line.isEmpty())
            continue;
        const QString song = QString::fromUtf8(line);
        if (!appendSong(song, displayName(song)))
            return fail(QStringLiteral("%1 holds more than %2 songs; only the first %2 were read.")
                            .arg(path)
                            .arg(MaxSongs));
    }
    return true;
}

bool Form1::WriteAlbum(QIODevice &file)
{
    for (int i = 0; i < List1.count(); ++i) {
        const QByteArray line = List1.item(i).toUtf8() + "\r\n";
        if (file.write(line) != line.size())
            return false;
    }
    return true;
}
