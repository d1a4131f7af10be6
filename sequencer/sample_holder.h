#pragma once

#include "sequencer/fluid.h"
#include "sequencer/instrument_scan.h"

#include <vector>

struct _fluid_preset_t;
struct _fluid_sfont_t;

// Keeps the samples of a song's instruments in memory while the synthesizer loads a SoundFont's
// samples per instrument (FluidSynth's dynamic sample loading): a second synthesizer that shares
// the SoundFont, never renders, and holds one instrument per channel. Instruments are taken in
// from the calling thread before a song plays, so the audio thread never reads the SoundFont
// from disk; those no song needs any more are let go at the next hold.
class SampleHolder
{
public:
    // A holder for the synthesizer's first SoundFont; valid() is false when none could be made.
    explicit SampleHolder(_fluid_synth_t *synth);
    // Lets go of every instrument and of the SoundFont, which the synthesizer still owns.
    ~SampleHolder();
    SampleHolder(const SampleHolder &) = delete;
    SampleHolder &operator=(const SampleHolder &) = delete;

    bool valid() const;

    // Holds every instrument the song can select, as the synthesizer resolves it, and those the
    // synthesizer's channels still have; lets go of the rest.
    void hold(const Smf::Song &song);

    // Instruments held now.
    int instrumentCount() const;

private:
    std::vector<_fluid_preset_t *> neededPresets(const Smf::Song &song, _fluid_sfont_t *sfont);
    void holdOnly(const std::vector<_fluid_preset_t *> &needed, _fluid_sfont_t *sfont);

    _fluid_synth_t *m_synth;
    FluidPtr<_fluid_hashtable_t> m_settings;
    FluidPtr<_fluid_synth_t> m_holder;
    InstrumentScan m_scan;
    bool m_valid = false;
};
