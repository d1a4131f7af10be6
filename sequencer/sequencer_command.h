#pragma once

#include <QString>

// One sequencer command string taken apart: "open <path> type sequencer alias <alias>",
// "play <alias>", "close <alias>", "status <alias> mode". Keywords are matched in any letter
// case; anything else is Invalid.
struct SequencerCommand
{
    enum class Verb { Invalid, Open, Play, Close, Status };

    Verb verb = Verb::Invalid;
    QString alias;
    // For Open: everything between "open " and the last " type ", without enclosing quotes.
    QString path;
};

SequencerCommand parseSequencerCommand(const QString &command);
