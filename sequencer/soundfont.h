#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

// The SoundFont of the synthesizer: QUAVREL_SOUNDFONT when it is set, else the one chosen in the
// window, else the first of the usual system SoundFonts, and the next of these whenever one cannot
// be used. Each file is checked before FluidSynth reads it: a regular file (so that a FIFO or a
// device never blocks), a SoundFont, and complete (a cut file would load and then play silence).
namespace SoundFont {

// What a load found: the SoundFont loaded, and what to tell the user about the ones that failed.
struct Loaded
{
    // FluidSynth's id of the SoundFont loaded, -1 when none could be.
    int id = -1;
    QString path;
    // Set when the SoundFont named by QUAVREL_SOUNDFONT or chosen could not be used, or none at
    // all: which file, what is wrong with it, and how to mend it.
    QString message;
};

// QUAVREL_SOUNDFONT when set, then the chosen one, then the usual system paths, in the order they
// are tried.
QStringList candidates(const QString &chosen = {});

// Why the file cannot serve as a SoundFont, as words that follow "cannot be used: "; "" when it
// can. Reads at most its header, and never blocks.
QString problem(const QString &path);

// The first candidate without a problem; "" when there is none.
QString firstUsable(const QString &chosen = {});

// Makes the synthesizer read SoundFonts through the counted calls below.
void countReads(_fluid_synth_t *synth, _fluid_hashtable_t *settings);

// Loads the file into the synthesizer, once it has passed the checks of problem(), without
// selecting any of its instruments: FluidSynth's id of the SoundFont, or -1 with what is wrong
// with it (FluidSynth's own reason for a file it refuses).
int read(_fluid_synth_t *synth, const QString &path, QString &why);

// Loads the first candidate that loads into the synthesizer, counting what it reads.
Loaded load(_fluid_synth_t *synth, _fluid_hashtable_t *settings, const QString &chosen);

// Bytes of SoundFont read from disk by every synthesizer of the process so far. An instrument
// measure: it shows when samples are read while a song plays.
std::uint64_t bytesRead();

} // namespace SoundFont
