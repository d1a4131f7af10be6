#pragma once

#include "sequencer/fluid.h"
#include "sequencer/instrument_scan.h"

#include <memory>
#include <set>
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

    // A holder for another SoundFont that the synthesizer is to play instead of this one, holding
    // the same instruments as that SoundFont gives them: those of the song held last and those
    // of the synthesizer's channels. Null when none could be made.
    std::unique_ptr<SampleHolder> forSoundFont(_fluid_sfont_t *sfont) const;

    // Instruments held now.
    int instrumentCount() const;

private:
    SampleHolder(_fluid_synth_t *synth, _fluid_sfont_t *sfont);
    std::vector<_fluid_preset_t *> channelPresets() const;
    std::vector<_fluid_preset_t *> resolve(const std::set<InstrumentScan::Request> &requests) const;
    void holdOnly(const std::vector<_fluid_preset_t *> &needed);

    _fluid_synth_t *m_synth;
    _fluid_sfont_t *m_sfont;
    FluidPtr<_fluid_hashtable_t> m_settings;
    FluidPtr<_fluid_synth_t> m_holder;
    InstrumentScan m_scan;
    // What the song held last can ask for.
    std::set<InstrumentScan::Request> m_requests;
    bool m_valid = false;
};
