#include "sequencer/soundfont_loader.h"

#include "sequencer/soundfont.h"

#include <fluidsynth.h>

#include <malloc.h>

namespace {

constexpr int Channels = 16;

} // namespace

SoundFontLoader::SoundFontLoader(bool dynamicSamples)
    : m_settings(new_fluid_settings())
{
    if (!m_settings)
        return;
    fluid_settings_setint(m_settings.get(), "synth.dynamic-sample-loading", dynamicSamples);
    fluid_settings_setint(m_settings.get(), "synth.midi-channels", Channels);
    fluid_settings_setint(m_settings.get(), "synth.polyphony", 1);
    fluid_settings_setint(m_settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(m_settings.get(), "synth.chorus.active", 0);
    m_synth = newFluidSynth(m_settings.get());
    if (!m_synth)
        return;
    SoundFont::countReads(m_synth.get(), m_settings.get());
    // No channel selects an instrument of a SoundFont that comes or goes, so none loads samples.
    for (int channel = 0; channel < Channels; ++channel)
        fluid_synth_unset_program(m_synth.get(), channel);
}

SoundFontLoader::~SoundFontLoader()
{
    releaseRetired();
}

SoundFontLoader::SoundFontPtr SoundFontLoader::load(const QString &path, QString &why)
{
    const int id = SoundFont::read(m_synth.get(), path, why);
    if (id < 0)
        return SoundFontPtr(nullptr, { this });
    fluid_sfont_t *sfont = fluid_synth_get_sfont_by_id(m_synth.get(), id);
    // Out of this synthesizer's list, it keeps the reference that list held.
    fluid_synth_remove_sfont(m_synth.get(), sfont);
    return SoundFontPtr(sfont, { this });
}

void SoundFontLoader::release(fluid_sfont_t *sfont, bool sounding)
{
    if (!sfont)
        return;
    if (sounding) {
        m_retired.emplace_back(sfont, Release { this });
        return;
    }
    // Should a voice still sound it, FluidSynth deletes it once that voice has ended.
    const int id = fluid_synth_add_sfont(m_synth.get(), sfont);
    fluid_synth_sfunload(m_synth.get(), id, 0);
    // Freed tables and samples lie in the middle of the heap: glibc keeps them unless asked.
    ::malloc_trim(0);
}

void SoundFontLoader::releaseRetired()
{
    m_retired.clear();
}
