#include "sequencer/sequencer_command.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

bool is(const QString &word, QLatin1StringView keyword)
{
    return word.compare(keyword, Qt::CaseInsensitive) == 0;
}

} // namespace

SequencerCommand parseSequencerCommand(const QString &command)
{
    SequencerCommand parsed;
    const QLatin1Char spaces(' ');

    const QLatin1StringView open("open ");
    if (command.startsWith(open, Qt::CaseInsensitive)) {
        // The path may hold spaces and even " type ": only the last one ends it.
        const qsizetype type
            = command.lastIndexOf(QLatin1StringView(" type "), -1, Qt::CaseInsensitive);
        if (type < open.size() - 1)
            return parsed;
        const QStringList tail = command.mid(type + 6).split(spaces, Qt::SkipEmptyParts);
        if (tail.size() != 3 || !is(tail[0], QLatin1StringView("sequencer"))
            || !is(tail[1], QLatin1StringView("alias")))
            return parsed;
        QString path
            = type > open.size() ? command.mid(open.size(), type - open.size()) : QString();
        if (path.size() >= 2 && path.startsWith(QLatin1Char('"'))
            && path.endsWith(QLatin1Char('"')))
            path = path.mid(1, path.size() - 2);
        parsed.verb = SequencerCommand::Verb::Open;
        parsed.alias = tail[2];
        parsed.path = path;
        return parsed;
    }

    // The path may hold any character, blanks at either end too.
    static const QRegularExpression set(QStringLiteral("^set ([^ ]+) soundfont(?: (.*))?$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    if (const QRegularExpressionMatch match = set.match(command); match.hasMatch()) {
        parsed.verb = SequencerCommand::Verb::Set;
        parsed.alias = match.captured(1);
        parsed.path = match.captured(2);
        return parsed;
    }

    const QStringList words = command.split(spaces, Qt::SkipEmptyParts);
    const std::pair<QLatin1StringView, SequencerCommand::Verb> verbs[] {
        { QLatin1StringView("play"), SequencerCommand::Verb::Play },
        { QLatin1StringView("pause"), SequencerCommand::Verb::Pause },
        { QLatin1StringView("resume"), SequencerCommand::Verb::Resume },
        { QLatin1StringView("close"), SequencerCommand::Verb::Close },
    };
    for (const auto &[keyword, verb] : verbs) {
        if (words.size() == 2 && is(words[0], keyword))
            parsed.verb = verb;
    }
    if (words.size() == 3 && is(words[0], QLatin1StringView("status"))) {
        parsed.item = words[2].toLower();
        if (QStringList { "mode", "position", "length", "volume", "soundfont" }.contains(
                parsed.item))
            parsed.verb = SequencerCommand::Verb::Status;
    }
    bool number = false;
    if (words.size() == 4 && is(words[0], QLatin1StringView("seek"))
        && is(words[2], QLatin1StringView("to")))
        parsed.value = words[3].toLongLong(&number);
    else if (words.size() == 5 && is(words[0], QLatin1StringView("setaudio"))
        && is(words[2], QLatin1StringView("volume")) && is(words[3], QLatin1StringView("to")))
        parsed.value = words[4].toLongLong(&number);
    if (number)
        parsed.verb
            = words.size() == 4 ? SequencerCommand::Verb::Seek : SequencerCommand::Verb::Volume;
    if (parsed.verb != SequencerCommand::Verb::Invalid)
        parsed.alias = words[1];
    return parsed;
}
