#include "sequencer/pulse_output.h"
#include "sequencer/sequencer_device.h"

#include <QStringList>
#include <QtGlobal>

#include <fluidsynth.h>

#include <algorithm>
#include <dlfcn.h>

// The device's audio output: Quavrel's own PulseAudio stream, else FluidSynth's drivers.

namespace {

// Frames rendered at a time into a PulseAudio stream's buffer.
constexpr int RenderSlice = 512;

void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) { }
void ignoreJackMessage(const char *) { }

// The ALSA and JACK libraries that FluidSynth's drivers use print their own errors to stderr;
// when they are loaded, their messages are dropped too (FluidSynth's log says what failed).
void quietAudioLibraries()
{
    using AlsaHandler = void (*)(const char *, int, const char *, int, const char *, ...);
    using JackHandler = void (*)(const char *);
    if (void *alsa = ::dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
        reinterpret_cast<int (*)(AlsaHandler)>(alsa)(ignoreAlsaError);
    for (const char *name : { "jack_set_error_function", "jack_set_info_function" }) {
        if (void *jack = ::dlsym(RTLD_DEFAULT, name))
            reinterpret_cast<void (*)(JackHandler)>(jack)(ignoreJackMessage);
    }
}

void listOption(void *data, const char *, const char *option)
{
    static_cast<QStringList *>(data)->append(QString::fromUtf8(option));
}

} // namespace

bool SequencerDevice::openAudioOutput(QString &reason)
{
    QStringList candidates;
    const QString chosen = qEnvironmentVariable("QUAVREL_AUDIO_DRIVER");
    if (!chosen.isEmpty()) {
        candidates.append(chosen);
    } else {
        QStringList built;
        fluid_settings_foreach_option(m_settings.get(), "audio.driver", &built, listOption);
        for (const char *name : { "pulseaudio", "alsa", "jack", "oss" }) {
            if (built.contains(QLatin1StringView(name)))
                candidates.append(QString::fromLatin1(name));
        }
        if (candidates.isEmpty())
            reason = QStringLiteral(
                "This FluidSynth has none of the audio drivers pulseaudio, alsa, jack, oss.");
    }
    // A jukebox must not start a JACK server of its own.
    if (candidates.contains(QLatin1StringView("jack"))
        && !qEnvironmentVariableIsSet("JACK_NO_START_SERVER"))
        qputenv("JACK_NO_START_SERVER", "1");

    QStringList reasons;
    if (chosen.isEmpty()) {
        std::string error;
        if (startPulseOutput(error))
            return true;
        reasons.append(QStringLiteral("pulseaudio: ") + QString::fromStdString(error));
        candidates.removeAll(QStringLiteral("pulseaudio"));
    }
    quietAudioLibraries();
    for (const QString &name : std::as_const(candidates)) {
        FluidLog::clear();
        if (fluid_settings_setstr(m_settings.get(), "audio.driver", name.toUtf8().constData())
            == FLUID_OK) {
            m_driver.reset(new_fluid_audio_driver(m_settings.get(), m_synth.get()));
            if (m_driver)
                return true;
        }
        const std::string error = FluidLog::lastError();
        const QString why = error.empty() ? QStringLiteral("it could not be opened")
                                          : QString::fromStdString(error);
        reasons.append(chosen.isEmpty() ? name + QStringLiteral(": ") + why : why);
    }
    if (!reasons.isEmpty())
        reason = reasons.join(QStringLiteral("; "));
    return false;
}

bool SequencerDevice::startPulseOutput(std::string &error)
{
    if (!m_pulse)
        m_pulse = std::make_unique<PulseOutput>();
    m_renderedFrames = 0;
    return m_pulse->start(
        [this](float *samples, int frames) {
            // In slices, so that the tick callback places the song's end within one of them.
            for (int done = 0; done < frames; done += RenderSlice) {
                const int count = std::min(RenderSlice, frames - done);
                float *at = samples + 2 * done;
                fluid_synth_write_float(m_synth.get(), count, at, 0, 2, at, 1, 2);
                m_renderedFrames += count;
            }
        },
        error);
}

// No render call runs once this returns.
void SequencerDevice::closeAudioOutput()
{
    m_driver.reset();
    if (m_pulse)
        m_pulse->stop();
}

bool SequencerDevice::audioOutputOpen() const
{
    return m_driver || (m_pulse && m_pulse->streaming());
}
