#include "album/album_file.h"
#include "app/main_window.h"

#include <QLabel>
#include <QSaveFile>

namespace {

// The dialog settings both album commands make before each use.
void setAlbumDialog(CommonDialog &dialog, const QString &title, const QString &initialFolder,
    const QString &fileName)
{
    dialog.CancelError = true;
    dialog.MaxFileSize = 15000;
    dialog.Flags = 0x80004;
    dialog.DialogTitle = title;
    dialog.InitDir = initialFolder;
    dialog.FileName = fileName;
    dialog.Filter = QStringLiteral("Midi Album: *.alp|*.alp");
}

// A failure shows its description alone: OK only, no icon, system-modal.
void reportFailure(Platform &platform, const QString &description)
{
    platform.messageBox(description, MsgBox::OkOnly | MsgBox::SystemModal, AppTitle);
}

} // namespace

void Form1::loadCommand()
{
    if (AlbumChanged == 1 && askSaveQuestion() == MsgBox::IdYes)
        saveCommand();

    setAlbumDialog(Dlog, QStringLiteral("Load Midi Album"), AppFolder, QString());
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
    if (!ReadAlbum(chosen.fileName, true, &failure)) {
        reportFailure(m_platform, failure);
        return;
    }
    AlbumChanged = 0;
}

void Form1::saveCommand()
{
    if (List1.count() == 0)
        return;

    setAlbumDialog(Dlog, QStringLiteral("Save Midi List to Album"), AppFolder, AlbumPath);
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
    album->setText(name);

    // The new album goes to a temporary file beside the old one and replaces it only once it is
    // complete, so a failure never destroys the album being replaced.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        reportFailure(
            m_platform, QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
        return;
    }
    AlbumPath = path;
    m_platform.processEvents();
    if (!WriteAlbum(file)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        reportFailure(m_platform, QStringLiteral("Cannot save %1: %2").arg(path, reason));
        return;
    }
    m_platform.processEvents();
    if (!file.commit()) {
        reportFailure(
            m_platform, QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
        return;
    }
    AlbumChanged = 0;
}
