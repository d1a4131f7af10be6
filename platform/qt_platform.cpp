#include "platform/qt_platform.h"

#include "platform/file_dialog.h"
#include "platform/file_names.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>
#include <utility>

QtPlatform::QtPlatform(CommandSender sender)
    : m_sender(std::move(sender))
{ }

std::uint32_t QtPlatform::sendCommand(const QString &command, QString *reply, int replyLength)
{
    if (!m_sender)
        return NoDeviceError;
    return m_sender(command, reply, replyLength);
}

QString QtPlatform::shortPathName(const QString &longPath)
{
    struct stat info = {};
    const bool exists
        = !longPath.isEmpty() && ::stat(FileNames::encode(longPath).constData(), &info) == 0;
    return exists ? longPath : QString();
}

int QtPlatform::messageBox(const QString &text, int style, const QString &title)
{
    QMessageBox box(m_window ? m_window.data() : QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    box.setWindowModality(Qt::ApplicationModal);
    switch (style & 0x70) {
    case MsgBox::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgBox::Question:
        box.setIcon(QMessageBox::Question);
        break;
    default:
        break;
    }
    if ((style & 0xF) == MsgBox::YesNo) {
        QPushButton *yes = box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? MsgBox::IdYes : MsgBox::IdNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MsgBox::IdOk;
}

DialogOutcome QtPlatform::showFileDialog(DialogKind kind, const CommonDialog &dialog)
{
    return showQtFileDialog(kind, dialog);
}

QString QtPlatform::getSetting(const QString &application, const QString &section,
    const QString &key, const QString &defaultValue)
{
    const QSettings settings(
        QSettings::NativeFormat, QSettings::UserScope, application, application);
    const QVariant value = settings.value(section + QLatin1Char('/') + key);
    if (!value.isValid())
        return defaultValue;
    // Values are written quoted where needed; an entry edited by hand with bare commas reads as
    // a list, and is joined again.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

void QtPlatform::saveSetting(
    const QString &application, const QString &section, const QString &key, const QString &value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, application, application);
    settings.setValue(section + QLatin1Char('/') + key, value);
    settings.sync();
}

QString QtPlatform::programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QStringList QtPlatform::findVolumeControl()
{
    const QString desktop = QProcessEnvironment::systemEnvironment()
                                .value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                                .toUpper();
    std::vector<QStringList> candidates;
    const auto ifDesktop = [&](const char *name, QStringList commandLine) {
        if (desktop.split(QLatin1Char(':')).contains(QLatin1String(name)))
            candidates.push_back(std::move(commandLine));
    };
    ifDesktop("GNOME", { QStringLiteral("gnome-control-center"), QStringLiteral("sound") });
    ifDesktop("KDE", { QStringLiteral("kcmshell6"), QStringLiteral("kcm_pulseaudio") });
    ifDesktop("KDE", { QStringLiteral("kcmshell5"), QStringLiteral("kcm_pulseaudio") });
    ifDesktop("MATE", { QStringLiteral("mate-volume-control") });
    ifDesktop("X-CINNAMON", { QStringLiteral("cinnamon-settings"), QStringLiteral("sound") });
    ifDesktop("CINNAMON", { QStringLiteral("cinnamon-settings"), QStringLiteral("sound") });
    ifDesktop("LXQT", { QStringLiteral("pavucontrol-qt") });
    candidates.push_back({ QStringLiteral("pavucontrol") });
    candidates.push_back({ QStringLiteral("pavucontrol-qt") });
    candidates.push_back({ QStringLiteral("x-terminal-emulator"), QStringLiteral("-e"),
        QStringLiteral("alsamixer") });
    for (QStringList &commandLine : candidates) {
        const QString program = QStandardPaths::findExecutable(commandLine.first());
        if (program.isEmpty())
            continue;
        if (commandLine.size() == 3 && QStandardPaths::findExecutable(commandLine.at(2)).isEmpty())
            continue;
        commandLine.first() = program;
        return commandLine;
    }
    return {};
}

bool QtPlatform::startProgram(const QStringList &commandLine)
{
    if (commandLine.isEmpty())
        return false;
    return QProcess::startDetached(commandLine.first(), commandLine.mid(1));
}

void QtPlatform::setWaitCursor(bool busy)
{
    if (busy == m_waitCursor)
        return;
    m_waitCursor = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void QtPlatform::processEvents()
{
    ++m_pendingEventsDepth;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    --m_pendingEventsDepth;
}
