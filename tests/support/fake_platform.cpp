#include "tests/support/fake_platform.h"

#include <utility>

std::uint32_t FakePlatform::sendCommand(const QString &command, QString *reply, int replyLength)
{
    commands.append(command);
    if (reply != nullptr && replyLength > 0 && command == QLatin1String("status canyon mode"))
        *reply = mode.left(replyLength - 1);
    return 0;
}

int FakePlatform::messageBox(const QString &text, int style, const QString &title)
{
    messageBoxes.push_back({ text, style, title });
    if (onMessageBox)
        onMessageBox();
    if (messageBoxAnswers.empty())
        return (style & 0xF) == MsgBox::YesNo ? MsgBox::IdNo : MsgBox::IdOk;
    const int answer = messageBoxAnswers.front();
    messageBoxAnswers.pop_front();
    return answer;
}

QString FakePlatform::takeBoxes()
{
    QStringList boxes;
    for (const MessageBoxCall &box : std::exchange(messageBoxes, {}))
        boxes << QString::number(box.style) + u' '
                + (box.title == "Quavrel v1.04" ? QString() : box.title + u':') + box.text;
    return boxes.join(QStringLiteral(" | "));
}

DialogOutcome FakePlatform::showFileDialog(DialogKind, const CommonDialog &dialog)
{
    dialogs.push_back(dialog);
    if (dialogOutcomes.empty())
        return { dialog.CancelError ? CommonDialog::CancelErrorCode : 0, {}, {} };
    const DialogOutcome outcome = dialogOutcomes.front();
    dialogOutcomes.pop_front();
    return outcome;
}
