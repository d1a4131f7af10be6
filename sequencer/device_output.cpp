#include "sequencer/driver_output.h"
#include "sequencer/pulse_output.h"
#include "sequencer/sequencer_device.h"

#include <QStringList>
#include <QtGlobal>

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>

// The device's way to the speakers, and the rendering of the open song with its tail.

namespace {

const QLatin1StringView NoAudioMessage(
    "No audio output could be opened, so songs cannot be heard.");

// Frames rendered at a time, so that the tick callback and the tail's level are placed within
// one of them.
constexpr int RenderSlice = 512;
// The song's sound has died away once the output stays below -80 dB of full scale this long.
constexpr float SilenceLevel = 1e-4f;
constexpr int SilenceFrames = SequencerDevice::SampleRate / 10;
// A note that never ends is faded out, over 50 ms, to end this long after the song's last event.
constexpr int LongestTailFrames = 3 * SequencerDevice::SampleRate;
constexpr int FadeFrames = SequencerDevice::SampleRate / 20;

void listOption(void *data, const char *, const char *option)
{
    static_cast<QStringList *>(data)->append(QString::fromUtf8(option));
}

} // namespace

// With m_mutex held: the output for a song that starts to play, not paused. QUAVREL_AUDIO_DRIVER
// names FluidSynth's driver; otherwise Quavrel's own PulseAudio stream, which waits for the server,
// unless no server has ever been reached and another of FluidSynth's drivers opens.
std::uint32_t SequencerDevice::startOutput()
{
    m_started = true;
    if (m_output == Output::Offline)
        return 0;
    const QString chosen = qEnvironmentVariable("QUAVREL_AUDIO_DRIVER");
    if (!chosen.isEmpty()) {
        QString error;
        m_driverOutput = openDriver(chosen, error);
        if (m_driverOutput)
            return 0;
        m_outputFailed = true;
        reportNoAudio(error);
        return NoAudioOutput;
    }
    connectPulse();
    if (!m_pulse->reached() && m_pulse->refused() && openFallbackOutput())
        return 0;
    m_pulse->start(
        [this](float *samples, int frames) { renderSong(samples, samples + 1, 2, frames); });
    m_pulsePlays = true;
    return 0;
}

// With m_mutex held: the PulseAudio connection, made once and kept.
void SequencerDevice::connectPulse()
{
    if (m_pulse)
        return;
    m_pulse = std::make_unique<PulseOutput>([this] { volumeChanged(); });
    m_pulse->connect();
}

// FluidSynth's driver of that name, rendering the song.
std::unique_ptr<DriverOutput> SequencerDevice::openDriver(const QString &name, QString &error)
{
    return DriverOutput::open(
        name, m_settings.get(),
        [this](float *left, float *right, int step, int frames) {
            renderSong(left, right, step, frames);
        },
        error);
}

// With m_mutex held: FluidSynth's ALSA, JACK or OSS driver, the first that opens, for a desktop
// without a sound server. Tried once a song.
bool SequencerDevice::openFallbackOutput()
{
    if (std::exchange(m_fallbackTried, true))
        return false;
    QStringList built;
    fluid_settings_foreach_option(m_settings.get(), "audio.driver", &built, listOption);
    // A jukebox must not start a JACK server of its own.
    if (!qEnvironmentVariableIsSet("JACK_NO_START_SERVER"))
        qputenv("JACK_NO_START_SERVER", "1");
    m_fallbackFailures.clear();
    for (const char *name : { "alsa", "jack", "oss" }) {
        if (!built.contains(QLatin1StringView(name)))
            continue;
        QString error;
        m_driverOutput = openDriver(QString::fromLatin1(name), error);
        if (m_driverOutput)
            return true;
        m_fallbackFailures.append(QString::fromLatin1(name) + QStringLiteral(": ") + error);
    }
    return false;
}

// With m_mutex held, while the song plays: a PulseAudio server that has never answered may be
// missing (then another driver is tried), and one away for long is said, once. The song waits
// for it meanwhile.
void SequencerDevice::watchOutput()
{
    if (!m_pulsePlays)
        return;
    if (!m_pulse->reached() && m_pulse->refused() && openFallbackOutput()) {
        m_pulse->stop();
        m_pulsePlays = false;
        return;
    }
    if (m_pulse->silentMs() >= ServerPatienceMs) {
        QStringList reasons { QStringLiteral("pulseaudio: ")
            + QString::fromStdString(m_pulse->lastError()) };
        reportNoAudio((reasons + m_fallbackFailures).join(QStringLiteral("; "))
            + QStringLiteral(
                "\nThe song waits, and plays on as soon as the sound server is back."));
    }
}

// With m_mutex held.
void SequencerDevice::reportNoAudio(const QString &reason)
{
    if (std::exchange(m_noAudioReported, true))
        return;
    qWarning("Quavrel: no audio output could be opened (%s)",
        qUtf8Printable(reason.section(QLatin1Char('\n'), 0, 0)));
    m_messages.push_back(NoAudioMessage + QLatin1Char('\n') + reason);
}

// Frames of the song the output has played.
std::int64_t SequencerDevice::playedFrames()
{
    return m_pulsePlays ? m_pulse->playedFrames() : m_frames.load();
}

std::vector<float> SequencerDevice::render(int frames)
{
    std::vector<float> samples(static_cast<std::size_t>(std::max(frames, 0)) * 2, 0.0f);
    finishWork();
    {
        const std::lock_guard lock(m_mutex);
        if (m_output != Output::Offline || m_song != Song::Open || !m_started || m_paused)
            return samples;
    }
    renderSong(samples.data(), samples.data() + 1, 2, frames);
    return samples;
}

// On the output's thread: a seek asked for, the block rendered when the song opened, then the
// synthesizer.
void SequencerDevice::renderSong(float *left, float *right, int step, int frames)
{
    if (const std::int64_t to = m_seekTo.exchange(-1); to >= 0)
        applySeek(to);
    int done = 0;
    for (; done < frames && m_prerollUsed < m_preroll.size(); ++done, m_prerollUsed += 2) {
        left[done * step] = m_preroll[m_prerollUsed];
        right[done * step] = m_preroll[m_prerollUsed + 1];
    }
    for (int count = 0; done < frames; done += count) {
        count = std::min(RenderSlice, frames - done);
        renderSynth(left + done * step, right + done * step, step, count);
    }
}

// Renders the song, and silence once its sound has died away.
void SequencerDevice::renderSynth(float *left, float *right, int step, int frames)
{
    if (m_endFrame.load(std::memory_order_relaxed) >= 0) {
        for (int i = 0; i < frames; ++i)
            left[i * step] = right[i * step] = 0.0f;
        return;
    }
    fluid_synth_write_float(m_synth.get(), frames, left, 0, step, right, 0, step);
    m_frames += frames;
    followTail(left, right, step, frames);
}

// After the song's last event: its end is where the output has stayed below SilenceLevel for
// SilenceFrames, or LongestTailFrames after that event, at the end of a fade over FadeFrames. A
// voice too quiet to hear does not hold the song: FluidSynth keeps some pads' voices long after.
void SequencerDevice::followTail(float *left, float *right, int step, int frames)
{
    const std::int64_t last = m_lastEventFrame.load(std::memory_order_relaxed);
    if (last < 0)
        return;
    const std::int64_t now = m_frames.load(std::memory_order_relaxed);
    const std::int64_t cut = last + LongestTailFrames;
    float peak = 0;
    for (int i = 0; i < frames; ++i) {
        const std::int64_t toCut = cut - (now - frames + i);
        if (toCut < FadeFrames) {
            const float gain = float(std::max<std::int64_t>(toCut, 0)) / FadeFrames;
            left[i * step] *= gain;
            right[i * step] *= gain;
        }
        peak = std::max({ peak, std::abs(left[i * step]), std::abs(right[i * step]) });
    }
    m_quietSince = std::max(m_quietSince, last);
    if (peak >= SilenceLevel)
        m_quietSince = now;
    if (now - m_quietSince >= SilenceFrames || now >= cut)
        m_endFrame = now;
}

// On the output's thread. FluidSynth's player replays every event but notes up to the new place,
// and ends the notes of the old one; going back, the synthesizer is reset first, so that
// instruments and controllers are those in force at the new place. From there the song's end is
// looked for again.
void SequencerDevice::applySeek(std::int64_t ms)
{
    // PulseAudio plays what follows a flush at once: the new place starts at what it has played.
    const std::int64_t now = playedFrames();
    if (ms < songMs(now))
        fluid_synth_system_reset(m_synth.get());
    fluid_player_seek(m_rendered, int(ms));
    fluid_player_play(m_rendered);
    m_prerollUsed = m_preroll.size();
    m_quietSince = m_frames;
    m_lastEventFrame = -1;
    m_endFrame = -1;
    const std::lock_guard lock(m_baseMutex);
    m_baseMs = ms;
    m_baseFrame = now;
}

// Called as the synthesizer renders, before the events at this tick: the frame where the song's
// last event sounds.
int SequencerDevice::onTick(void *data, int tick)
{
    auto *device = static_cast<SequencerDevice *>(data);
    if (std::uint64_t(tick) >= device->m_endTick
        && device->m_lastEventFrame.load(std::memory_order_relaxed) < 0)
        device->m_lastEventFrame = device->m_frames.load(std::memory_order_relaxed);
    return FLUID_OK;
}
