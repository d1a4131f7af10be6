#include "app/main_window.h"
#include "platform/file_names.h"

#include <sys/stat.h>

// The song list is List1 (paths) and List2 (display names with the selection flags), row for
// row. Every change goes through these routines, so the two lists never fall out of step.

int Form1::songCount() const
{
    return List2->count();
}

bool Form1::appendSong(const QString &path, const QString &name)
{
    if (songCount() >= MaxSongs)
        return false;
    List1.addItem(path);
    List2->addItem(name);
    return true;
}

bool Form1::insertSong(int position, const QString &path, const QString &name)
{
    if (songCount() >= MaxSongs || position < 0 || position > songCount())
        return false;
    List2->insertItem(position, name);
    List1.insertItem(position, path);
    return true;
}

void Form1::clearSongs()
{
    List1.clear();
    List2->clear();
}

QString Form1::StripPath(const QString &path) const
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString Form1::displayName(const QString &path) const
{
    // The name after the last "/" found at the third character or later; a "/" among the first
    // two characters does not count, and then the name is empty.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash >= 2 ? path.mid(slash + 1) : QString();
}

bool Form1::Exists(const QString &path) const
{
    struct stat info = {};
    return !path.isEmpty() && ::stat(FileNames::encode(path).constData(), &info) == 0
        && S_ISREG(info.st_mode) && info.st_size != 0;
}
