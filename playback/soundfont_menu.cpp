#include "app/main_window.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QTimer>

namespace {

const QString Application = QStringLiteral("Quavrel");
const QString Section = QStringLiteral("Sound");
const QString Key = QStringLiteral("SoundFont");
// Room for the longest path.
constexpr int ReplyLength = 32768;

} // namespace

void Form1::createSoundFontItems()
{
    organize->addSeparator();
    SoundFontItem = organize->addAction(QString());
    SystemSoundFontItem = organize->addAction(QStringLiteral("&System SoundFont"));
    SoundFontTimer = new QTimer(this);
    SoundFontTimer->setInterval(100);
    connect(organize, &QMenu::aboutToShow, this, &Form1::showSoundFont);
    connect(SoundFontItem, &QAction::triggered, this, &Form1::soundFontCommand);
    connect(SystemSoundFontItem, &QAction::triggered, this, &Form1::systemSoundFontCommand);
    connect(SoundFontTimer, &QTimer::timeout, this, &Form1::watchSoundFont);
}

// The sequencer makes its synthesizer with the remembered SoundFont, after QUAVREL_SOUNDFONT's
// and before the system's; it says so at the first Play when that one cannot be used.
void Form1::useRememberedSoundFont()
{
    SoundFontChoice = m_platform.getSetting(Application, Section, Key, QString());
    if (!SoundFontChoice.isEmpty())
        sendMci(QStringLiteral("set canyon soundfont ") + SoundFontChoice);
}

// As the menu opens: the first item names the SoundFont in use (by the file a link leads to);
// both wait while one loads. The list's own items act on the list, and wait as it does while a
// song plays.
void Form1::showSoundFont()
{
    for (QAction *item : OrganizeList)
        item->setEnabled(List2->isEnabled());
    QString inUse;
    const bool ready
        = m_platform.sendCommand(QStringLiteral("status canyon soundfont"), &inUse, ReplyLength)
        == 0;
    if (ready)
        SoundFontInUse = inUse;
    const QString file = QFileInfo(SoundFontInUse).canonicalFilePath();
    QString name = QFileInfo(file.isEmpty() ? SoundFontInUse : file).fileName();
    if (SoundFontInUse.isEmpty())
        name = QStringLiteral("none");
    SoundFontItem->setText(
        QStringLiteral("Sound&Font: %1...")
            .arg(ready ? name.replace(u'&', QStringLiteral("&&")) : QStringLiteral("loading")));
    SoundFontItem->setEnabled(ready);
    // The system's is in use unless the remembered choice is.
    SystemSoundFontItem->setEnabled(
        ready && !SoundFontChoice.isEmpty() && SoundFontInUse == SoundFontChoice);
}

// The SoundFont dialog opens in the folder of the SoundFont in use. It has its own settings, so
// that the song and album dialogs keep theirs.
void Form1::soundFontCommand()
{
    CommonDialog dialog;
    dialog.CancelError = true;
    dialog.MaxFileSize = 15000;
    dialog.Flags = 0x80004;
    dialog.DialogTitle = QStringLiteral("Choose a SoundFont");
    dialog.InitDir
        = SoundFontInUse.isEmpty() ? QDir::homePath() : QFileInfo(SoundFontInUse).absolutePath();
    dialog.Filter = QStringLiteral("SoundFonts (*.sf2, *.sf3)|*.sf2;*.sf3");
    const DialogOutcome outcome = m_platform.showFileDialog(DialogKind::Open, dialog);
    if (outcome.error == CommonDialog::CancelErrorCode)
        return;
    if (outcome.error != 0) {
        m_platform.messageBox(outcome.description, MsgBox::SystemModal, AppTitle);
        return;
    }
    if (!outcome.fileName.isEmpty())
        chooseSoundFont(outcome.fileName);
}

void Form1::systemSoundFontCommand()
{
    chooseSoundFont(QString());
}

// The sequencer loads the SoundFont on its own thread, and a song that plays goes on with it;
// the window asks ten times a second whether it is in use.
void Form1::chooseSoundFont(const QString &path)
{
    SoundFontWanted = path;
    sendMci(QStringLiteral("set canyon soundfont ") + path);
    SoundFontTimer->start();
}

// Remembered once in use; one that cannot be used is said by the sequencer, and the choice stays
// as it was. Going back to the system's forgets the choice in any case.
void Form1::watchSoundFont()
{
    QString inUse;
    const std::uint32_t result
        = m_platform.sendCommand(QStringLiteral("status canyon soundfont"), &inUse, ReplyLength);
    if (result == Platform::NotReadyError)
        return;
    SoundFontTimer->stop();
    if (result != 0)
        return;
    SoundFontInUse = inUse;
    if (SoundFontWanted.isEmpty() || inUse == SoundFontWanted) {
        SoundFontChoice = SoundFontWanted;
        m_platform.saveSetting(Application, Section, Key, SoundFontChoice);
    }
}
