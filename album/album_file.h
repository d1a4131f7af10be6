#pragma once

#include <QString>

// Helpers of the album file format shared by album reading and start-up.
namespace AlbumFormat {
// The text without its leading and trailing spaces (U+0020 only; tabs and other blanks stay).
QString trimSpaces(const QString &text);
// The failure of a path whose file name is too short to give an album name.
QString nameTooShort(const QString &path);
} // namespace AlbumFormat
