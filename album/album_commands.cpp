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

// A failure shows its description alone: OK only, no icon, system-modal.
void reportFailure(Platform &platform, const QString &description)
{
    platform.messageBox(description, MsgBox::OkOnly | MsgBox::SystemModal, AppTitle);
}

// Shows an album dialog with the settings both album commands make before each use. Gives the
// chosen path; "" when the dialog was cancelled, failed (the failure is said) or gave no name.
QString chooseAlbum(Platform &platform, CommonDialog &dialog, DialogKind kind, const QString &title,
    const QString &fileName)
{
    dialog.CancelError = true;
    dialog.MaxFileSize = 15000;
    dialog.Flags = 0x80004;
    dialog.DialogTitle = title;
    dialog.InitDir = albumFolder();
    dialog.FileName = fileName;
    dialog.Filter = QStringLiteral("Midi Album: *.alp|*.alp");
    const DialogOutcome chosen = platform.showFileDialog(kind, dialog);
    if (chosen.error != 0 && chosen.error != CommonDialog::CancelErrorCode)
        reportFailure(platform, chosen.description);
    return chosen.error == 0 ? chosen.fileName : QString();
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

    const QString path
        = chooseAlbum(m_platform, Dlog, DialogKind::Open, QStringLiteral("Load Midi Album"), {});
    if (path.isEmpty())
        return;

    QString failure;
    if (ReadAlbum(path, true, &failure) != AlbumRead::Whole) {
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

    const QString path = chooseAlbum(
        m_platform, Dlog, DialogKind::Save, QStringLiteral("Save Midi List to Album"), AlbumPath);
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
