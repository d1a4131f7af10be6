#pragma once

#include <QString>

// One sequencer command string taken apart: "open <path> type sequencer alias <alias>",
// "play <alias>", "pause <alias>", "resume <alias>", "close <alias>", and "status <alias> mode",
// "status <alias> position" or "status <alias> length". Keywords are matched in any letter
// case; anything else is Invalid.
struct SequencerCommand
{
    enum class Verb { Invalid, Open, Play, Pause, Resume, Close, Status };

    Verb verb = Verb::Invalid;
    QString alias;
    // For Open: everything between "open " and the last " type ", without enclosing quotes.
    QString path;
    // For Status: what is asked, in lower case.
    QString item;
};

SequencerCommand parseSequencerCommand(const QString &command);
