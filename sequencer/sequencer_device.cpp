#include "sequencer/sequencer_device.h"

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "platform/regular_file.h"
#include "sequencer/pulse_output.h"
#include "sequencer/sequencer_command.h"
#include "sequencer/soundfont.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtGlobal>

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace {

const QLatin1StringView NoAudioMessage(
    "No audio output could be opened, so songs cannot be heard.");

// 1024-frame periods keep the audio thread and the sound server near idle; three of them give
// about 70 ms of latency, plenty for a jukebox.
constexpr int PeriodSize = 1024;
constexpr int Periods = 3;
// Frames rendered at a time into a PulseAudio stream's buffer.
constexpr int RenderSlice = 512;

// Reads a regular file whole; anything else is refused without waiting (see RegularFile).
std::uint32_t readSongFile(const QString &path, std::vector<std::uint8_t> &bytes)
{
    QFile file;
    if (const int error = RegularFile::open(path, file)) {
        return error == ENOENT || error == ENOTDIR ? SequencerDevice::FileNotFound
                                                   : SequencerDevice::InvalidFile;
    }
    if (file.size() > SequencerDevice::MaxFileSize)
        return SequencerDevice::InvalidFile;
    const QByteArray data = file.read(file.size());
    if (file.error() != QFileDevice::NoError)
        return SequencerDevice::InvalidFile;
    bytes.assign(data.begin(), data.end());
    return 0;
}

// FluidSynth's log is one hook per process, used from any of its threads: its messages are kept
// here instead of printed, the last error for the user.
struct FluidLog
{
    std::mutex mutex;
    std::string lastError;

    static FluidLog &instance()
    {
        static FluidLog log;
        return log;
    }

    static void capture(int level, const char *message, void *data)
    {
        if (level > FLUID_ERR || !message)
            return;
        auto *log = static_cast<FluidLog *>(data);
        const std::lock_guard lock(log->mutex);
        log->lastError = message;
    }
};

// The holder synthesizer keeps one instrument per channel; FluidSynth allows at most 256.
constexpr int HolderChannels = 256;

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

void SequencerDevice::FluidDeleter::operator()(_fluid_hashtable_t *settings) const
{
    delete_fluid_settings(settings);
}

void SequencerDevice::FluidDeleter::operator()(_fluid_synth_t *synth) const
{
    delete_fluid_synth(synth);
}

void SequencerDevice::FluidDeleter::operator()(_fluid_player_t *player) const
{
    delete_fluid_player(player);
}

void SequencerDevice::FluidDeleter::operator()(_fluid_audio_driver_t *driver) const
{
    delete_fluid_audio_driver(driver);
}

SequencerDevice::SequencerDevice(Output output, SampleLoading loading)
    : m_output(output)
    , m_loading(loading)
{ }

SequencerDevice::~SequencerDevice()
{
    finishPreparing();
    closeSong();
    m_pulse.reset();
    // The holder shares the synthesizer's SoundFont: it lets go of it before either is deleted.
    if (m_holder) {
        for (int channel = 0; channel < HolderChannels; ++channel)
            fluid_synth_unset_program(m_holder.get(), channel);
        if (fluid_sfont_t *sfont = fluid_synth_get_sfont(m_synth.get(), 0))
            fluid_synth_remove_sfont(m_holder.get(), sfont);
        m_holder.reset();
    }
    m_holderSettings.reset();
    m_synth.reset();
    m_settings.reset();
}

void SequencerDevice::prepare()
{
    if (m_synth || m_preparing.joinable())
        return;
    const bool pulse
        = m_output == Output::Audio && qEnvironmentVariableIsEmpty("QUAVREL_AUDIO_DRIVER");
    m_preparing = std::thread([this, pulse] {
        // Quiet: what went wrong is said by the first open, on the window's thread.
        loadSynth();
        if (pulse) {
            auto output = std::make_unique<PulseOutput>();
            std::string error;
            if (output->connect(error))
                m_pulse = std::move(output);
        }
    });
}

void SequencerDevice::finishPreparing()
{
    if (m_preparing.joinable())
        m_preparing.join();
}

void SequencerDevice::setNoAudioHandler(std::function<void(const QString &)> handler)
{
    m_noAudioHandler = std::move(handler);
}

std::uint32_t SequencerDevice::sendCommand(const QString &command, QString *reply, int replyLength)
{
    const SequencerCommand parsed = parseSequencerCommand(command);
    if (parsed.verb == SequencerCommand::Verb::Invalid)
        return UnrecognizedCommand;
    if (parsed.alias.compare(QLatin1StringView("canyon"), Qt::CaseInsensitive) != 0)
        return UnknownAlias;
    switch (parsed.verb) {
    case SequencerCommand::Verb::Open:
        return open(parsed.path);
    case SequencerCommand::Verb::Play:
        return play();
    case SequencerCommand::Verb::Close:
        closeSong();
        return 0;
    case SequencerCommand::Verb::Status:
        if (!m_open)
            return UnknownAlias;
        if (reply && replyLength > 0)
            *reply = mode().left(replyLength - 1);
        return 0;
    case SequencerCommand::Verb::Invalid:
        break;
    }
    return UnrecognizedCommand;
}

std::uint32_t SequencerDevice::open(const QString &path)
{
    if (m_open)
        return AliasInUse;
    std::vector<std::uint8_t> bytes;
    if (const std::uint32_t error = readSongFile(path, bytes))
        return error;
    Smf::ReadResult read = Smf::readSong(bytes);
    bytes = {};
    if (!read.error.empty())
        return InvalidFile;
    const Smf::CanonicalSong canonical = Smf::canonicalSong(read.song);
    read = {};
    if (!canonical.error.empty())
        return InvalidFile;
    if (!ensureSynth())
        return NoSynthesizer;
    // No audio thread runs now: the song's instruments are loaded here, not while it plays.
    holdInstruments(canonical.song);
    m_songFile = Smf::writeSong(canonical.song);
    m_endTick = canonical.song.endTick;
    if (!startPlayer()) {
        m_songFile = {};
        return InvalidFile;
    }
    m_open = true;
    m_started = false;
    return 0;
}

std::uint32_t SequencerDevice::play()
{
    if (!m_open)
        return UnknownAlias;
    if (m_started) {
        if (mode() == QLatin1StringView("playing"))
            return 0;
        // Played to its end: start again from the beginning with a fresh player.
        fluid_player_stop(m_player.get());
        closeAudioOutput();
        m_started = false;
        m_player.reset();
    }
    if (!m_player && !startPlayer())
        return InvalidFile;
    fluid_synth_reverb_on(m_synth.get(), -1, 1);
    fluid_synth_chorus_on(m_synth.get(), -1, 1);
    fluid_player_play(m_player.get());
    if (m_output == Output::Audio && !audioOutputOpen()) {
        QString reason;
        if (!openAudioOutput(reason)) {
            // Leave no started player behind, so that the song reads as not playing; the next
            // play makes a fresh one.
            fluid_player_stop(m_player.get());
            m_player.reset();
            if (!m_noAudioReported) {
                m_noAudioReported = true;
                qWarning("Quavrel: no audio output could be opened (%s)", qUtf8Printable(reason));
                if (m_noAudioHandler)
                    m_noAudioHandler(NoAudioMessage + QLatin1Char('\n') + reason);
            }
            return NoAudioOutput;
        }
    }
    m_started = true;
    return 0;
}

QString SequencerDevice::mode() const
{
    bool playing = m_started && fluid_player_get_status(m_player.get()) == FLUID_PLAYER_PLAYING
        && std::int64_t(m_tick.load(std::memory_order_relaxed)) < std::int64_t(m_endTick);
    if (m_started && m_pulse && m_pulse->streaming()) {
        // The server still has the end of the song queued; a broken stream plays nothing more.
        const std::int64_t end = m_endFrame.load();
        playing = !m_pulse->failed() && (playing || (end >= 0 && m_pulse->playedFrames() < end));
    }
    return playing ? QStringLiteral("playing") : QStringLiteral("stopped");
}

void SequencerDevice::closeSong()
{
    // With no song open nothing sounds (the last close silenced it), and prepare()'s thread may
    // still be building the synthesizer: nothing to do.
    if (!m_open)
        return;
    // Safe while the audio thread runs: the player stops sending events, the thread ends with
    // its driver, and only then are the voices silenced and the player freed.
    if (m_player)
        fluid_player_stop(m_player.get());
    closeAudioOutput();
    if (m_synth) {
        fluid_synth_all_sounds_off(m_synth.get(), -1);
        // The reverb and chorus keep sounding the voices' tails: silence them until the next
        // play too.
        fluid_synth_reverb_on(m_synth.get(), -1, 0);
        fluid_synth_chorus_on(m_synth.get(), -1, 0);
    }
    m_player.reset();
    m_songFile = {};
    m_open = false;
    m_started = false;
}

bool SequencerDevice::ensureSynth()
{
    finishPreparing();
    if (!m_synth)
        loadSynth();
    // Said here, on the window's thread, also when prepare()'s thread loaded the synthesizer.
    if (!m_soundFontMessage.isEmpty() && !m_soundFontReported) {
        m_soundFontReported = true;
        qWarning(
            "Quavrel: %s", qUtf8Printable(m_soundFontMessage.section(QLatin1Char('\n'), 0, 0)));
        if (m_noAudioHandler)
            m_noAudioHandler(m_soundFontMessage);
    }
    return bool(m_synth);
}

bool SequencerDevice::loadSynth()
{
    // Set here rather than at construction: FluidSynth is loaded by its first use.
    for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level)
        fluid_set_log_function(level, &FluidLog::capture, &FluidLog::instance());
    FluidPtr<_fluid_hashtable_t> settings(new_fluid_settings());
    if (!settings)
        return false;
    fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
    fluid_settings_setnum(settings.get(), "synth.sample-rate", SampleRate);
    fluid_settings_setint(settings.get(), "audio.period-size", PeriodSize);
    fluid_settings_setint(settings.get(), "audio.periods", Periods);
    fluid_settings_setint(settings.get(), "audio.jack.autoconnect", 1);
    fluid_settings_setint(
        settings.get(), "synth.dynamic-sample-loading", m_loading == SampleLoading::Dynamic);
    FluidPtr<_fluid_synth_t> synth(new_fluid_synth(settings.get()));
    if (!synth)
        return false;
    const SoundFont::Loaded loaded = SoundFont::load(
        synth.get(), settings.get(), [] { return QString::fromStdString(lastFluidError()); });
    m_soundFontMessage = loaded.message;
    if (loaded.id < 0)
        return false;
    m_settings = std::move(settings);
    m_synth = std::move(synth);
    if (m_loading == SampleLoading::Dynamic && !createHolder()) {
        // Without it the audio thread loads what the song selects, as FluidSynth itself does.
        m_holder.reset();
        m_holderSettings.reset();
    }
    return true;
}

bool SequencerDevice::createHolder()
{
    // A synthesizer that never renders: no voices to speak of, no effects.
    m_holderSettings.reset(new_fluid_settings());
    if (!m_holderSettings)
        return false;
    fluid_settings_setint(m_holderSettings.get(), "synth.midi-channels", HolderChannels);
    fluid_settings_setint(m_holderSettings.get(), "synth.polyphony", 1);
    fluid_settings_setint(m_holderSettings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(m_holderSettings.get(), "synth.chorus.active", 0);
    m_holder.reset(new_fluid_synth(m_holderSettings.get()));
    fluid_sfont_t *sfont = fluid_synth_get_sfont(m_synth.get(), 0);
    return m_holder && sfont && fluid_synth_add_sfont(m_holder.get(), sfont) != FLUID_FAILED;
}

void SequencerDevice::holdInstruments(const Smf::Song &song)
{
    if (!m_holder)
        return;
    fluid_sfont_t *sfont = fluid_synth_get_sfont(m_synth.get(), 0);
    if (!sfont)
        return;
    std::array<int, InstrumentScan::Channels> banks {};
    for (int channel = 0; channel < InstrumentScan::Channels; ++channel) {
        int sfontId = 0;
        int program = 0;
        fluid_synth_get_program(
            m_synth.get(), channel, &sfontId, &banks[std::size_t(channel)], &program);
    }

    // The presets the synthesizer picks for each request, with its fallbacks for missing ones.
    // Those its channels hold from the last song stay too: the song's first program changes let
    // go of them in the audio thread, which should not free their samples there either.
    std::vector<fluid_preset_t *> needed;
    for (int channel = 0; channel < InstrumentScan::Channels; ++channel) {
        fluid_preset_t *preset = fluid_synth_get_channel_preset(m_synth.get(), channel);
        if (preset && std::find(needed.begin(), needed.end(), preset) == needed.end())
            needed.push_back(preset);
    }
    const auto find
        = [sfont](int bank, int program) { return fluid_sfont_get_preset(sfont, bank, program); };
    for (const InstrumentScan::Request &request : m_scan.scan(song, banks)) {
        fluid_preset_t *preset = find(request.bank, request.program);
        if (!preset && request.drum)
            preset = find(InstrumentScan::DrumBank, 0);
        if (!preset && !request.drum)
            preset = find(0, request.program);
        if (!preset && !request.drum)
            preset = find(0, 0);
        if (preset && std::find(needed.begin(), needed.end(), preset) == needed.end())
            needed.push_back(preset);
    }

    // Channels that hold a needed preset keep it; the missing ones are selected before the
    // presets no longer needed are let go, so shared samples are never unloaded and reloaded.
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
        fluid_synth_program_select(m_holder.get(), int(channel), fluid_sfont_get_id(sfont),
            fluid_preset_get_banknum(preset), fluid_preset_get_num(preset));
        keep[channel] = true;
    }
    for (std::size_t i = 0; i < keep.size(); ++i) {
        if (!keep[i] && held[i])
            fluid_synth_unset_program(m_holder.get(), int(i));
    }
}

int SequencerDevice::heldInstrumentCount() const
{
    if (!m_holder)
        return 0;
    std::vector<fluid_preset_t *> presets;
    for (int channel = 0; channel < HolderChannels; ++channel) {
        fluid_preset_t *preset = fluid_synth_get_channel_preset(m_holder.get(), channel);
        if (preset && std::find(presets.begin(), presets.end(), preset) == presets.end())
            presets.push_back(preset);
    }
    return int(presets.size());
}

std::uint64_t SequencerDevice::soundFontBytesRead()
{
    return SoundFont::bytesRead();
}

bool SequencerDevice::startPlayer()
{
    m_player.reset(new_fluid_player(m_synth.get()));
    if (!m_player
        || fluid_player_add_mem(m_player.get(), m_songFile.data(), m_songFile.size()) != FLUID_OK) {
        m_player.reset();
        return false;
    }
    m_tick.store(0);
    m_endFrame.store(-1);
    fluid_player_set_tick_callback(m_player.get(), &SequencerDevice::onTick, this);
    return true;
}

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
        clearFluidError();
        if (fluid_settings_setstr(m_settings.get(), "audio.driver", name.toUtf8().constData())
            == FLUID_OK) {
            m_driver.reset(new_fluid_audio_driver(m_settings.get(), m_synth.get()));
            if (m_driver)
                return true;
        }
        const std::string error = lastFluidError();
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

std::vector<float> SequencerDevice::render(int frames)
{
    std::vector<float> samples(static_cast<std::size_t>(std::max(frames, 0)) * 2, 0.0f);
    // Never alongside an audio thread that renders the same synthesizer.
    if (m_synth && !audioOutputOpen() && frames > 0)
        fluid_synth_write_float(m_synth.get(), frames, samples.data(), 0, 2, samples.data(), 1, 2);
    return samples;
}

QString SequencerDevice::soundFontPath()
{
    return SoundFont::firstUsable();
}

int SequencerDevice::onTick(void *data, int tick)
{
    auto *device = static_cast<SequencerDevice *>(data);
    device->m_tick.store(tick, std::memory_order_relaxed);
    // Called as the synthesizer renders, before the events at this tick: the frame where the end
    // of the song begins to sound.
    if (std::int64_t(tick) >= std::int64_t(device->m_endTick) && device->m_endFrame.load() < 0)
        device->m_endFrame.store(device->m_renderedFrames);
    return FLUID_OK;
}

std::string SequencerDevice::lastFluidError()
{
    FluidLog &log = FluidLog::instance();
    const std::lock_guard lock(log.mutex);
    return log.lastError;
}

void SequencerDevice::clearFluidError()
{
    FluidLog &log = FluidLog::instance();
    const std::lock_guard lock(log.mutex);
    log.lastError.clear();
}
