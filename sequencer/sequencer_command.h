#pragma once

#include <QString>

// One sequencer command string taken apart: "open <path> type sequencer alias <alias>",
// "play <alias>", "pause <alias>", "resume <alias>", "close <alias>", "seek <alias> to <ms>",
// "setaudio <alias> volume to <0..1000>", "set <alias> soundfont <path>", and "status <alias>
// mode", "status <alias> position", "status <alias> length", "status <alias> volume" or "status
// <alias> soundfont". Keywords are matched in any letter case; anything else is Invalid.
struct SequencerCommand
{
    enum class Verb { Invalid, Open, Play, Pause, Resume, Close, Seek, Volume, Set, Status };

    Verb verb = Verb::Invalid;
    QString alias;
    // For Open: everything between "open " and the last " type ", without enclosing quotes. For
    // Set: everything after "soundfont ", as it is (empty when nothing follows).
    QString path;
    // For Status: what is asked, in lower case.
    QString item;
    // For Seek: where to, in milliseconds; for Volume: the volume in thousandths.
    qint64 value = 0;
};

SequencerCommand parseSequencerCommand(const QString &command);
