#include "fuzz/fuzz_support.h"
#include "platform/sequencer_command.h"
#include "platform/sequencer_device.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>

namespace {

using Verb = SequencerCommand::Verb;

// A parsed command, written out again in its plainest form, parses to the same command.
void checkParse(const QString &command)
{
    const SequencerCommand parsed = parseSequencerCommand(command);
    if (parsed.verb == Verb::Invalid) {
        FUZZ_CHECK(parsed.alias.isEmpty() && parsed.path.isEmpty());
        return;
    }
    FUZZ_CHECK(!parsed.alias.isEmpty() && !parsed.alias.contains(QLatin1Char(' ')));
    QString again;
    switch (parsed.verb) {
    case Verb::Open:
        FUZZ_CHECK(command.startsWith(QLatin1StringView("open "), Qt::CaseInsensitive));
        again = QStringLiteral("open \"") + parsed.path + QStringLiteral("\" type sequencer alias ")
            + parsed.alias;
        break;
    case Verb::Play:
        FUZZ_CHECK(parsed.path.isEmpty());
        again = QStringLiteral("play ") + parsed.alias;
        break;
    case Verb::Close:
        FUZZ_CHECK(parsed.path.isEmpty());
        again = QStringLiteral("close ") + parsed.alias;
        break;
    case Verb::Status:
        FUZZ_CHECK(parsed.path.isEmpty());
        again = QStringLiteral("status ") + parsed.alias + QStringLiteral(" mode");
        break;
    case Verb::Invalid:
        break;
    }
    const SequencerCommand reparsed = parseSequencerCommand(again);
    FUZZ_CHECK(reparsed.verb == parsed.verb && reparsed.alias == parsed.alias
        && reparsed.path == parsed.path);
}

bool knownResult(std::uint32_t code)
{
    switch (code) {
    case 0:
    case SequencerDevice::UnrecognizedCommand:
    case SequencerDevice::NoAudioOutput:
    case SequencerDevice::UnknownAlias:
    case SequencerDevice::FileNotFound:
    case SequencerDevice::AliasInUse:
    case SequencerDevice::InvalidFile:
    case SequencerDevice::NoSynthesizer:
        return true;
    default:
        return false;
    }
}

} // namespace

// Input: command lines, then (after a NUL) the bytes of a file. "%" in a command stands for
// the file's path. Every line parses consistently; sent to an offline device in turn, each
// gets a known result, and a status query answers "playing" or "stopped".
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static SequencerDevice device(SequencerDevice::Output::Offline);
    static QTemporaryDir dir;
    if (size > 100000)
        return 0;
    const auto *end = static_cast<const std::uint8_t *>(std::memchr(data, 0, size));
    const std::size_t textSize = end ? std::size_t(end - data) : size;
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(textSize));
    const QString path = dir.filePath(QStringLiteral("song.mid"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const qint64 fileSize = end ? qint64(size - textSize - 1) : 0;
        FUZZ_CHECK(
            file.write(reinterpret_cast<const char *>(end ? end + 1 : data), fileSize) == fileSize);
    }

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        checkParse(lines[i]);
        if (i >= 8)
            continue;
        QString command = lines[i];
        command.replace(QLatin1Char('%'), path);
        QString reply;
        const std::uint32_t code = device.sendCommand(command, &reply, 16);
        FUZZ_CHECK(knownResult(code));
        if (code == 0 && parseSequencerCommand(command).verb == Verb::Status)
            FUZZ_CHECK(
                reply == QLatin1StringView("playing") || reply == QLatin1StringView("stopped"));
        device.render(64);
    }
    device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);
    return 0;
}
