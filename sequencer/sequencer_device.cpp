#include "sequencer/sequencer_device.h"

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "platform/regular_file.h"
#include "sequencer/pulse_output.h"
#include "sequencer/sample_holder.h"
#include "sequencer/sequencer_command.h"
#include "sequencer/soundfont.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtGlobal>

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

namespace {

const QLatin1StringView NoAudioMessage(
    "No audio output could be opened, so songs cannot be heard.");

// 1024-frame periods keep the audio thread and the sound server near idle; three of them give
// about 70 ms of latency, plenty for a jukebox.
constexpr int PeriodSize = 1024;
constexpr int Periods = 3;

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

} // namespace

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
    m_holder.reset();
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

void SequencerDevice::setMessageHandler(std::function<void(const QString &)> handler)
{
    m_messageHandler = std::move(handler);
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
    if (m_holder)
        m_holder->hold(canonical.song);
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
                if (m_messageHandler)
                    m_messageHandler(NoAudioMessage + QLatin1Char('\n') + reason);
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
    if (!m_synthProblem.isEmpty() && !m_synthProblemReported) {
        m_synthProblemReported = true;
        qWarning("Quavrel: %s", qUtf8Printable(m_synthProblem.section(QLatin1Char('\n'), 0, 0)));
        if (m_messageHandler)
            m_messageHandler(m_synthProblem);
    }
    return bool(m_synth);
}

bool SequencerDevice::loadSynth()
{
    if (std::string error; !FluidLibrary::load(error)) {
        m_synthProblem = QStringLiteral("FluidSynth could not be loaded, so songs cannot be "
                                        "heard:\n%1\nInstall the package libfluidsynth3.")
                             .arg(QString::fromStdString(error));
        return false;
    }
    // Set here rather than at construction: FluidSynth is loaded by its first use.
    FluidLog::capture();
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
        synth.get(), settings.get(), [] { return QString::fromStdString(FluidLog::lastError()); });
    m_synthProblem = loaded.message;
    if (loaded.id < 0)
        return false;
    m_settings = std::move(settings);
    m_synth = std::move(synth);
    if (m_loading == SampleLoading::Dynamic) {
        m_holder = std::make_unique<SampleHolder>(m_synth.get());
        // Without it the audio thread loads what the song selects, as FluidSynth itself does.
        if (!m_holder->valid())
            m_holder.reset();
    }
    return true;
}

int SequencerDevice::heldInstrumentCount() const
{
    return m_holder ? m_holder->instrumentCount() : 0;
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
