#include "app/main_window.h"

void Form1::loadCommand() { }

void Form1::saveCommand() { }

bool Form1::ReadAlbum(const QString &path, bool setAlbumPath, QString *failure)
{
    Q_UNUSED(path);
    Q_UNUSED(setAlbumPath);
    Q_UNUSED(failure);
    return false;
}

bool Form1::WriteAlbum(QIODevice &file)
{
    Q_UNUSED(file);
    return false;
}

bool Form1::albumName(const QString &path, QString &name) const
{
    Q_UNUSED(path);
    Q_UNUSED(name);
    return false;
}
