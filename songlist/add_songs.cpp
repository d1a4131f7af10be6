#include "album/album_format.h"
#include "app/main_window.h"
#include "platform/file_names.h"

namespace {

const QString UnexpectedError = QStringLiteral("An unexpected Error has occured.");
const QString ShortNameError = QStringLiteral("Invalid procedure call or argument");
const QString ListFullError = QStringLiteral("The song list cannot hold more than %1 songs.");

} // namespace

// Add: the open-file dialog, then one entry per chosen file. A cancel ends silently; a failure
// of the dialog shows its description; a failure while adding keeps what was added so far.
void Form1::addCommand()
{
    Dlog.CancelError = true;
    if (!LastAddFolder.isEmpty())
        Dlog.InitDir = LastAddFolder;
    Dlog.MaxFileSize = 15000;
    Dlog.Flags = 0x80204;
    Dlog.FileName = QString();
    Dlog.Filter = QStringLiteral("{Midi}*.mid| *.mid");
    Dlog.DialogTitle = QStringLiteral("Add Midi Song");
    const DialogOutcome outcome = platform().showFileDialog(DialogKind::Open, Dlog);
    if (outcome.error == CommonDialog::CancelErrorCode)
        return;
    if (outcome.error != 0) {
        platform().messageBox(outcome.description, MsgBox::SystemModal, AppTitle);
        return;
    }
    // The dialog component keeps the chosen text, as its FileName property does.
    Dlog.FileName = outcome.fileName;
    if (outcome.fileName.isEmpty())
        return;

    QString failure;
    if (!addChosenFiles(outcome.fileName, failure)) {
        platform().messageBox(
            UnexpectedError + QLatin1Char('\n') + failure, MsgBox::OkOnly, AppTitle);
        return;
    }
    repaint();
    AlbumChanged = 1;
}

// Appends the files of one dialog result: "folder NUL name NUL name ..." for several files, a
// full path for one. Each path and its display name are appended together; on a failure the
// entries before it stay and the description is put in failure. A path that no album line can
// hold is skipped.
bool Form1::addChosenFiles(const QString &chosen, QString &failure)
{
    QStringList parts { QString() };
    const qint32 n = BreakMultiApart(chosen, parts);
    if (n == 0)
        return true;

    if (n >= 2) {
        QString folder = parts.at(1);
        LastAddFolder = folder;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        for (qint32 i = 2; i <= n; ++i) {
            const QString &name = parts.at(i);
            if (!AlbumFormat::canHold(folder + name))
                continue;
            // The name less its extension; a name too short for that fails at this entry.
            if (name.size() < 4) {
                failure = ShortNameError;
                return false;
            }
            if (!appendSong(folder + name, name.chopped(4))) {
                failure = ListFullError.arg(MaxSongs);
                return false;
            }
        }
        return true;
    }

    // One file: the folder is the text before the last "/" at the third character or later.
    if (!AlbumFormat::canHold(chosen))
        return true;
    const QString name = displayName(chosen);
    if (!appendSong(chosen, name)) {
        failure = ListFullError.arg(MaxSongs);
        return false;
    }
    const qsizetype slash = chosen.lastIndexOf(QLatin1Char('/'));
    if (slash >= 2)
        LastAddFolder = chosen.left(slash);
    return true;
}

// Splits text at each NUL into szArray[1..n]; szArray[0] keeps what it held. Two adjacent NULs
// give an empty part, a NUL at the end gives none, and an empty text gives n = 0.
qint32 Form1::BreakMultiApart(const QString &szWords, QStringList &szArray)
{
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype nul = szWords.indexOf(QChar(u'\0')); nul >= 0;
         nul = szWords.indexOf(QChar(u'\0'), start)) {
        parts.append(szWords.mid(start, nul - start));
        start = nul + 1;
    }
    if (start < szWords.size())
        parts.append(szWords.mid(start));
    if (parts.isEmpty())
        return 0;

    const QString first = szArray.isEmpty() ? QString() : szArray.first();
    szArray.clear();
    szArray.reserve(parts.size() + 1);
    szArray.append(first);
    szArray.append(parts);
    return qint32(parts.size());
}

// Files dropped on the list: each path ending in "mid" (any letter case) is appended with its
// file name as display name; anything else, folders and paths no album line can hold included,
// is skipped without a word.
void Form1::List2_OLEDragDrop(
    const QStringList &Data, qint32 &Effect, qint16 Button, qint16 Shift, float X, float Y)
{
    Q_UNUSED(Effect);
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    for (const QString &path : Data) {
        if (path.right(3).toLower() != QLatin1String("mid") || !AlbumFormat::canHold(path)
            || FileNames::isFolder(path))
            continue;
        if (!appendSong(path, displayName(path)))
            return;
    }
}
