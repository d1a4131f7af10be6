#include "album/album_format.h"
#include "app/main_window.h"

#include <QLabel>

// Start-up: close any sequencer left open, note the program's folder, show the window, then
// reopen the album named by the start-up entry. Any failure with that album is silent, except
// that an album cut at the song limit is told: saving the list over it would lose the rest.
// The remembered SoundFont is named before the window shows, which starts the synthesizer.
void Form1::Form_Load()
{
    sendMci(QStringLiteral("close canyon"));
    useRememberedSoundFont();
    AppFolder = m_platform.programFolder();
    if (!AppFolder.endsWith(QLatin1Char('/')))
        AppFolder += QLatin1Char('/');

    centreOnScreen();
    show();
    m_platform.processEvents();

    AlbumPath = m_platform.getSetting(
        QStringLiteral("Quavrel"), QStringLiteral("Startup"), QStringLiteral("Album"), QString());
    const QString path = AlbumFormat::trimSpaces(QStringView(AlbumPath)).toString();
    if (path.isEmpty())
        return;
    QString failure;
    if (ReadAlbum(path, false, &failure) == AlbumRead::Cut)
        m_platform.messageBox(failure, MsgBox::OkOnly | MsgBox::SystemModal, AppTitle);
}

// Every close request: close the sequencer, remember the album while a name is shown, then offer
// to save unsaved changes. Yes keeps the window open and runs Save; a paused song then counts as
// closed while playing, and the next tick moves on.
void Form1::Form_QueryUnload(qint16 &Cancel, qint16 UnloadMode)
{
    Q_UNUSED(UnloadMode);
    sendMci(QStringLiteral("close canyon"));
    endPause();
    rememberAlbum();
    if (AlbumChanged == 1 && askSaveQuestion() == MsgBox::IdYes) {
        Cancel = 1;
        saveCommand();
    }
}

// While an album name is shown, writes the album's path to the start-up entry.
void Form1::rememberAlbum()
{
    if (!album->text().isEmpty()) {
        m_platform.saveSetting(QStringLiteral("Quavrel"), QStringLiteral("Startup"),
            QStringLiteral("Album"), AlbumPath);
    }
}
