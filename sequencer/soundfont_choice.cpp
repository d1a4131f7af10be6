#include "sequencer/sample_holder.h"
#include "sequencer/sequencer_device.h"
#include "sequencer/soundfont.h"
#include "sequencer/soundfont_loader.h"

#include <fluidsynth.h>

// The SoundFont chosen while the device runs. The worker reads the new one beside the
// synthesizer, holds the open song's instruments of it, and only then puts it in place of the old
// one: the synthesizer's lock is held for a moment, the song goes on, and its next note sounds
// with the new SoundFont. The old one is deleted once its last voice has ended.

std::uint32_t SequencerDevice::chooseSoundFont(const QString &path)
{
    {
        const std::lock_guard lock(m_mutex);
        m_soundFontChoice = path;
        ++m_soundFontSwitches;
    }
    post([this, path] {
        switchSoundFont(path);
        const std::lock_guard lock(m_mutex);
        --m_soundFontSwitches;
    });
    return 0;
}

std::uint32_t SequencerDevice::soundFontStatus(QString *reply, int replyLength)
{
    const std::lock_guard lock(m_mutex);
    if (!m_synthTried || m_soundFontSwitches > 0)
        return NotReady;
    if (reply && replyLength > 0)
        *reply = m_soundFontInUse.left(replyLength - 1);
    return 0;
}

// On the worker.
void SequencerDevice::switchSoundFont(const QString &path)
{
    QString inUse;
    bool sounding = false;
    {
        const std::lock_guard lock(m_mutex);
        // Until the synthesizer is made, the choice only names the SoundFont to make it with.
        if (!m_synthTried)
            return;
        inUse = m_soundFontInUse;
        sounding = m_song == Song::Open;
    }
    if (!m_synth) {
        // None could be loaded so far: the new choice is tried, and what is wrong said again.
        m_synthProblemReported = false;
        loadSynth();
        return;
    }
    const QString target = path.isEmpty() ? SoundFont::firstUsable() : path;
    if (target == inUse)
        return;
    if (!m_loader)
        m_loader = std::make_unique<SoundFontLoader>(m_loading == SampleLoading::Dynamic);
    QString why = QStringLiteral("FluidSynth cannot make a synthesizer to read it");
    SoundFontLoader::SoundFontPtr sfont(nullptr, { m_loader.get() });
    if (target.isEmpty())
        why = QStringLiteral("none is installed (for example by the package fluid-soundfont-gm)");
    else if (m_loader->valid())
        sfont = m_loader->load(target, why);
    if (!sfont) {
        say(QStringLiteral("The SoundFont %1 cannot be used: %2.\nSongs play with %3 as before.")
                .arg(target.isEmpty() ? QStringLiteral("of the system") : target, why, inUse));
        return;
    }

    std::unique_ptr<SampleHolder> holder = m_holder ? m_holder->forSoundFont(sfont.get()) : nullptr;
    fluid_sfont_t *old = fluid_synth_get_sfont(m_synth.get(), 0);
    // On top of the old one, the new one gives every channel its instrument; without the old
    // one, no channel keeps one of it.
    fluid_synth_add_sfont(m_synth.get(), sfont.release());
    fluid_synth_remove_sfont(m_synth.get(), old);
    // The old holder lets go of the old SoundFont before it is deleted: now, or, while the open
    // song may still sound it, once that song has been closed.
    m_holder = std::move(holder);
    m_loader->release(old, sounding);
    const std::lock_guard lock(m_mutex);
    m_soundFontInUse = target;
}
