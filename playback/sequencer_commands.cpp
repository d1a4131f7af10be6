#include "app/main_window.h"

// Sends a command that wants no answer and keeps the low 16 bits of its result.
void Form1::sendMci(const QString &command)
{
    MciResult = qint16(m_platform.sendCommand(command, nullptr, 0) & 0xFFFF);
}

QString Form1::GetShortName(const QString &sLongFileName)
{
    return m_platform.shortPathName(sLongFileName);
}

// Asks the sequencer for its mode; the song counts as playing only when the trimmed answer
// starts with "PLAYING" in any letter case. An error leaves the reply blank, which reads as ended.
bool Form1::songIsPlaying()
{
    MciReply = QString(128, QLatin1Char(' '));
    QString answer;
    if (m_platform.sendCommand(QStringLiteral("status canyon mode"), &answer, 128) == 0)
        MciReply = answer.left(127);
    const QString mode = MciReply.trimmed().toUpper().left(7);
    return mode == QLatin1String("PLAYING");
}
