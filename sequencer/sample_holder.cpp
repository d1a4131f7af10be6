#include "sequencer/sample_holder.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>

namespace {

// FluidSynth allows at most 256 channels.
constexpr int HolderChannels = 256;

void addOnce(std::vector<fluid_preset_t *> &presets, fluid_preset_t *preset)
{
    if (preset && std::find(presets.begin(), presets.end(), preset) == presets.end())
        presets.push_back(preset);
}

} // namespace

SampleHolder::SampleHolder(fluid_synth_t *synth)
    : SampleHolder(synth, fluid_synth_get_sfont(synth, 0))
{ }

SampleHolder::SampleHolder(fluid_synth_t *synth, fluid_sfont_t *sfont)
    : m_synth(synth)
    , m_sfont(sfont)
    , m_settings(new_fluid_settings())
{
    if (!m_settings)
        return;
    // A synthesizer that never renders: no voices to speak of, no effects.
    fluid_settings_setint(m_settings.get(), "synth.midi-channels", HolderChannels);
    fluid_settings_setint(m_settings.get(), "synth.polyphony", 1);
    fluid_settings_setint(m_settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(m_settings.get(), "synth.chorus.active", 0);
    m_holder = newFluidSynth(m_settings.get());
    m_valid = m_holder && sfont && fluid_synth_add_sfont(m_holder.get(), sfont) != FLUID_FAILED;
}

SampleHolder::~SampleHolder()
{
    if (!m_holder)
        return;
    for (int channel = 0; channel < HolderChannels; ++channel)
        fluid_synth_unset_program(m_holder.get(), channel);
    if (m_sfont)
        fluid_synth_remove_sfont(m_holder.get(), m_sfont);
}

bool SampleHolder::valid() const
{
    return m_valid;
}

void SampleHolder::hold(const Smf::Song &song)
{
    if (!m_valid)
        return;
    std::array<int, InstrumentScan::Channels> banks {};
    for (int channel = 0; channel < InstrumentScan::Channels; ++channel) {
        int sfontId = 0;
        int program = 0;
        fluid_synth_get_program(m_synth, channel, &sfontId, &banks[std::size_t(channel)], &program);
    }
    m_requests = m_scan.scan(song, banks);
    // Those the synthesizer's channels hold from the last song stay too: the song's first
    // program changes let go of them in the audio thread, which should not free their samples
    // there either.
    std::vector<fluid_preset_t *> needed = channelPresets();
    for (fluid_preset_t *preset : resolve(m_requests))
        addOnce(needed, preset);
    holdOnly(needed);
}

std::unique_ptr<SampleHolder> SampleHolder::forSoundFont(fluid_sfont_t *sfont) const
{
    std::unique_ptr<SampleHolder> holder(new SampleHolder(m_synth, sfont));
    if (!holder->m_valid)
        return nullptr;
    holder->m_scan = m_scan;
    holder->m_requests = m_requests;
    // The channels choose again by bank and program when the SoundFont changes.
    std::set<InstrumentScan::Request> requests = m_requests;
    for (int channel = 0; channel < InstrumentScan::Channels; ++channel) {
        int sfontId = 0;
        int bank = 0;
        int program = 0;
        fluid_synth_get_program(m_synth, channel, &sfontId, &bank, &program);
        fluid_preset_t *preset = fluid_synth_get_channel_preset(m_synth, channel);
        const bool drum = preset && fluid_preset_get_banknum(preset) == InstrumentScan::DrumBank;
        if (program < 128)
            requests.insert({ drum ? InstrumentScan::DrumBank : bank, program, drum });
    }
    holder->holdOnly(holder->resolve(requests));
    return holder;
}

std::vector<fluid_preset_t *> SampleHolder::channelPresets() const
{
    std::vector<fluid_preset_t *> presets;
    for (int channel = 0; channel < InstrumentScan::Channels; ++channel)
        addOnce(presets, fluid_synth_get_channel_preset(m_synth, channel));
    return presets;
}

// The presets the synthesizer picks for each request, with its fallbacks for missing ones.
std::vector<fluid_preset_t *> SampleHolder::resolve(
    const std::set<InstrumentScan::Request> &requests) const
{
    const auto find
        = [this](int bank, int program) { return fluid_sfont_get_preset(m_sfont, bank, program); };
    std::vector<fluid_preset_t *> presets;
    for (const InstrumentScan::Request &request : requests) {
        fluid_preset_t *preset = find(request.bank, request.program);
        if (!preset && request.drum)
            preset = find(InstrumentScan::DrumBank, 0);
        if (!preset && !request.drum)
            preset = find(0, request.program);
        if (!preset && !request.drum)
            preset = find(0, 0);
        addOnce(presets, preset);
    }
    return presets;
}

// Channels that hold a needed preset keep it; the missing ones are selected before the presets
// no longer needed are let go, so shared samples are never unloaded and loaded again.
void SampleHolder::holdOnly(const std::vector<fluid_preset_t *> &needed)
{
    std::vector<fluid_preset_t *> held(HolderChannels);
    std::vector<bool> keep(HolderChannels, false);
    for (int channel = 0; channel < HolderChannels; ++channel)
        held[std::size_t(channel)] = fluid_synth_get_channel_preset(m_holder.get(), channel);
    std::vector<fluid_preset_t *> missing;
    for (fluid_preset_t *preset : needed) {
        std::size_t at = 0;
        while (at < held.size() && (held[at] != preset || keep[at]))
            ++at;
        if (at == held.size())
            missing.push_back(preset);
        else
            keep[at] = true;
    }
    std::size_t channel = 0;
    for (fluid_preset_t *preset : missing) {
        while (channel < keep.size() && keep[channel])
            ++channel;
        // More instruments than channels (no General MIDI song has them): the rest load when
        // the song selects them, as without the holder.
        if (channel == keep.size())
            break;
        fluid_synth_program_select(m_holder.get(), int(channel), fluid_sfont_get_id(m_sfont),
            fluid_preset_get_banknum(preset), fluid_preset_get_num(preset));
        keep[channel] = true;
    }
    for (std::size_t i = 0; i < keep.size(); ++i) {
        if (!keep[i] && held[i])
            fluid_synth_unset_program(m_holder.get(), int(i));
    }
}

int SampleHolder::instrumentCount() const
{
    if (!m_valid)
        return 0;
    std::vector<fluid_preset_t *> presets;
    for (int channel = 0; channel < HolderChannels; ++channel)
        addOnce(presets, fluid_synth_get_channel_preset(m_holder.get(), channel));
    return int(presets.size());
}
