#pragma once

#include "sequencer/fluid.h"

#include <QString>

#include <memory>
#include <vector>

struct _fluid_sfont_t;

// Reads SoundFonts for a synthesizer that plays, and deletes those it no longer plays, without
// holding that synthesizer's lock while it reads: a synthesizer of its own, which never renders
// and selects no instrument, reads each file (counting what it reads); the SoundFont is then
// handed over with fluid_synth_add_sfont. A SoundFont goes on reading its samples through the
// loader that read it, so this must outlive every synthesizer that was given one.
class SoundFontLoader
{
public:
    // Gives back to the loader a SoundFont that no synthesizer was given.
    struct Release
    {
        SoundFontLoader *loader = nullptr;
        void operator()(_fluid_sfont_t *sfont) const { loader->release(sfont); }
    };
    using SoundFontPtr = std::unique_ptr<_fluid_sfont_t, Release>;

    // dynamicSamples: a SoundFont loads the samples of an instrument when it is selected.
    explicit SoundFontLoader(bool dynamicSamples);
    ~SoundFontLoader();
    SoundFontLoader(const SoundFontLoader &) = delete;
    SoundFontLoader &operator=(const SoundFontLoader &) = delete;

    bool valid() const { return bool(m_synth); }

    // The SoundFont in the file, once it has passed the checks of SoundFont::problem(); null,
    // with what is wrong with it, when it cannot be used. A synthesizer that is given it
    // (released from the pointer) owns it.
    SoundFontPtr load(const QString &path, QString &why);

    // Deletes a SoundFont that no synthesizer lists any more, and gives the memory back to the
    // system. One that voices may still sound (sounding) waits for releaseRetired(), when they
    // have ended: deleted while they sound, FluidSynth would delete it later on a thread of its
    // own, and the memory would not go back.
    void release(_fluid_sfont_t *sfont, bool sounding = false);
    void releaseRetired();

private:
    FluidPtr<_fluid_hashtable_t> m_settings;
    FluidPtr<_fluid_synth_t> m_synth;
    std::vector<SoundFontPtr> m_retired;
};
