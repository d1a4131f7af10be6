#include "album/album_format.h"
#include "app/main_window.h"
#include "platform/file_names.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace {

// The album dialogs open in the user's music folder, else the home folder: where albums are
// kept, not where the program is installed.
QString albumFolder()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return !music.isEmpty() && QFileInfo(music).isDir() ? music : QDir::homePath();
}

// The dialog settings both album commands make before each use.
void setAlbumDialog(CommonDialog &dialog, const QString &title, const QString &fileName)
{
    dialog.CancelError = true;
    dialog.MaxFileSize = 15000;
    dialog.Flags = 0x80004;
    dialog.DialogTitle = title;
    dialog.InitDir = albumFolder();
    dialog.FileName = fileName;
    dialog.Filter = QStringLiteral("Midi Album: *.alp|*.alp");
}

// A failure shows its description alone: OK only, no icon, system-modal.
void reportFailure(Platform &platform, const QString &description)
{
    platform.messageBox(description, MsgBox::OkOnly | MsgBox::SystemModal, AppTitle);
}

// Why the album at path cannot be saved over, when it exists but cannot be written (on a
// read-only file system, say); empty otherwise.
QString notWritable(const QString &path)
{
    if (::access(FileNames::encode(path).constData(), W_OK) == 0 || errno == ENOENT)
        return {};
    return qt_error_string(errno);
}

} // namespace

int Form1::askSaveQuestion()
{
    return m_platform.messageBox(QStringLiteral("Current album list has changed!\r\n\r\n"
                                                "Do you want to Save the changes?"),
        MsgBox::YesNo | MsgBox::Question, AppTitle);
}

void Form1::loadCommand()
{
    if (AlbumChanged == 1 && askSaveQuestion() == MsgBox::IdYes)
        saveCommand();

    setAlbumDialog(Dlog, QStringLiteral("Load Midi Album"), QString());
    const DialogOutcome chosen = m_platform.showFileDialog(DialogKind::Open, Dlog);
    if (chosen.error == CommonDialog::CancelErrorCode)
        return;
    if (chosen.error != 0) {
        reportFailure(m_platform, chosen.description);
        return;
    }
    if (chosen.fileName.isEmpty())
        return;

    QString failure;
    if (ReadAlbum(chosen.fileName, true, &failure) != AlbumRead::Whole) {
        reportFailure(m_platform, failure);
        return;
    }
    AlbumChanged = 0;
}

// The album state changes only once the album is saved: a failed Save leaves the caption,
// AlbumPath and AlbumChanged as they were, and the album on disk as it was.
void Form1::saveCommand()
{
    if (List1.count() == 0)
        return;

    setAlbumDialog(Dlog, QStringLiteral("Save Midi List to Album"), AlbumPath);
    const DialogOutcome chosen = m_platform.showFileDialog(DialogKind::Save, Dlog);
    if (chosen.error == CommonDialog::CancelErrorCode)
        return;
    if (chosen.error != 0) {
        reportFailure(m_platform, chosen.description);
        return;
    }
    const QString path = chosen.fileName;
    if (path.isEmpty())
        return;

    QString name;
    if (!albumName(path, name)) {
        reportFailure(m_platform, AlbumFormat::nameTooShort(path));
        return;
    }

    // The new album goes to a temporary file beside the old one, written unbuffered so that a
    // full disk fails in a write, and replaces the old one only once every byte is written.
    QSaveFile file(path);
    const QString reason = [&] {
        if (const QString denied = notWritable(path); !denied.isEmpty())
            return denied;
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return file.errorString();
        m_platform.processEvents();
        const bool written = WriteAlbum(file) && file.flush();
        m_platform.processEvents();
        return written && file.commit() ? QString() : file.errorString();
    }();
    if (!reason.isEmpty()) {
        file.cancelWriting();
        reportFailure(m_platform, QStringLiteral("Cannot save %1: %2").arg(path, reason));
        return;
    }
    album->setText(name);
    AlbumPath = path;
    AlbumChanged = 0;
}
