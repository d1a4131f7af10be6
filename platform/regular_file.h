#pragma once

class QFile;
class QString;

// Opening a file that must be a regular file, an album or a song, for reading.
namespace RegularFile {

// Failures that are no system error: the path names a folder, or something else that is not a
// regular file (a FIFO, a device, a socket).
inline constexpr int Folder = -1;
inline constexpr int NotRegular = -2;

// Opens the file at path (a name as FileNames decodes it) for reading into file. The open never
// waits, as a plain open of a FIFO without a writer would, and anything but a regular file is
// refused from the type of what was opened, before a byte is read. Returns 0, Folder,
// NotRegular or the errno value of the failure (ENOENT for an empty path).
int open(const QString &path, QFile &file);

} // namespace RegularFile
