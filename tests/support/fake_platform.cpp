#include "tests/support/fake_platform.h"

#include <QCoreApplication>
#include <QFileInfo>

std::uint32_t FakePlatform::sendCommand(const QString &command, QString *reply, int replyLength)
{
    log.append(QStringLiteral("mci: ") + command);
    commands.append(command);
    QString answer;
    std::uint32_t result = 0;
    if (sequencer)
        result = sequencer(command, &answer);
    else if (command == QLatin1String("status canyon mode"))
        answer = QStringLiteral("stopped");
    if (reply != nullptr && replyLength > 0 && result == 0)
        *reply = answer.left(replyLength - 1);
    return result;
}

QString FakePlatform::shortPathName(const QString &longPath)
{
    return !longPath.isEmpty() && QFileInfo::exists(longPath) ? longPath : QString();
}

int FakePlatform::messageBox(const QString &text, int style, const QString &title)
{
    log.append(QStringLiteral("msgbox %1: %2").arg(style).arg(text));
    messageBoxes.push_back({ text, style, title });
    if (onMessageBox)
        onMessageBox();
    if (!messageBoxAnswers.empty()) {
        const int answer = messageBoxAnswers.front();
        messageBoxAnswers.pop_front();
        return answer;
    }
    return (style & 0xF) == MsgBox::YesNo ? MsgBox::IdNo : MsgBox::IdOk;
}

DialogOutcome FakePlatform::showFileDialog(DialogKind kind, const CommonDialog &dialog)
{
    log.append(QStringLiteral("dialog %1: %2")
                   .arg(kind == DialogKind::Open ? "open" : "save", dialog.DialogTitle));
    dialogs.push_back({ kind, dialog });
    if (dialogOutcomes.empty()) {
        DialogOutcome cancelled;
        if (dialog.CancelError) {
            cancelled.error = CommonDialog::CancelErrorCode;
            cancelled.description = QStringLiteral("Cancel was selected.");
        }
        return cancelled;
    }
    DialogOutcome outcome = dialogOutcomes.front();
    dialogOutcomes.pop_front();
    return outcome;
}

QString FakePlatform::getSetting(const QString &application, const QString &section,
    const QString &key, const QString &defaultValue)
{
    const QString name = application + QLatin1Char('/') + section + QLatin1Char('/') + key;
    log.append(QStringLiteral("get setting: ") + name);
    return settings.value(name, defaultValue);
}

void FakePlatform::saveSetting(
    const QString &application, const QString &section, const QString &key, const QString &value)
{
    const QString name = application + QLatin1Char('/') + section + QLatin1Char('/') + key;
    log.append(QStringLiteral("save setting: ") + name + QLatin1Char('=') + value);
    settings.insert(name, value);
}

QStringList FakePlatform::findVolumeControl()
{
    return volumeControl;
}

bool FakePlatform::startProgram(const QStringList &commandLine)
{
    log.append(QStringLiteral("start: ") + commandLine.join(QLatin1Char(' ')));
    startedPrograms.append(commandLine);
    return volumeStarts;
}

void FakePlatform::setWaitCursor(bool busy)
{
    log.append(busy ? QStringLiteral("cursor: wait") : QStringLiteral("cursor: default"));
    waitCursor = busy;
}

void FakePlatform::processEvents()
{
    log.append(QStringLiteral("process events"));
    ++processEventsCalls;
    if (runRealEvents)
        QCoreApplication::processEvents();
    if (onProcessEvents)
        onProcessEvents();
}

std::uint32_t FakePlatform::clockSeed()
{
    log.append(QStringLiteral("seed"));
    return seed++;
}

QStringList FakePlatform::logged(const QString &prefix) const
{
    QStringList lines;
    for (const QString &line : log) {
        if (line.startsWith(prefix))
            lines.append(line);
    }
    return lines;
}
