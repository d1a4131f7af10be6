#include "sequencer/sequencer_device.h"

#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "platform/regular_file.h"
#include "sequencer/driver_output.h"
#include "sequencer/pulse_output.h"
#include "sequencer/sample_holder.h"
#include "sequencer/sequencer_command.h"
#include "sequencer/soundfont.h"
#include "sequencer/soundfont_loader.h"

#include <QFile>
#include <QtGlobal>

#include <fluidsynth.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

namespace {

// 1024-frame periods keep the audio thread and the sound server near idle; three of them give
// about 70 ms of latency, plenty for a jukebox.
constexpr int PeriodSize = 1024;
constexpr int Periods = 3;
// FluidSynth reads its copy of a song when it renders the song's first block: that block is
// rendered when the song opens, on the worker, and played first.
constexpr int PrerollFrames = 64;

} // namespace

SequencerDevice::SequencerDevice(Output output, SampleLoading loading)
    : m_output(output)
    , m_loading(loading)
{ }

SequencerDevice::~SequencerDevice()
{
    closeSong();
    m_worker.stop();
    m_pulse.reset();
    // The holder shares the synthesizer's SoundFont: it lets go of it before either is deleted.
    m_holder.reset();
    m_synth.reset();
    m_loader.reset();
    m_settings.reset();
}

void SequencerDevice::prepare()
{
    if (std::exchange(m_prepared, true))
        return;
    if (m_output == Output::Audio && qEnvironmentVariableIsEmpty("QUAVREL_AUDIO_DRIVER")) {
        // A song opened before may be starting its output on the worker meanwhile.
        const std::lock_guard lock(m_mutex);
        connectPulse();
    }
    post([this] { ensureSynth(); });
}

void SequencerDevice::finishWork()
{
    m_worker.finish();
}

void SequencerDevice::setMessageHandler(std::function<void(const QString &)> handler)
{
    m_messageHandler = std::move(handler);
}

void SequencerDevice::setVolumeHandler(std::function<void()> handler)
{
    const std::lock_guard lock(m_volumeHandlerMutex);
    m_volumeHandler = std::move(handler);
}

void SequencerDevice::volumeChanged()
{
    const std::lock_guard lock(m_volumeHandlerMutex);
    if (m_volumeHandler)
        m_volumeHandler();
}

std::uint32_t SequencerDevice::sendCommand(const QString &command, QString *reply, int replyLength)
{
    const SequencerCommand parsed = parseSequencerCommand(command);
    if (parsed.verb == SequencerCommand::Verb::Invalid)
        return UnrecognizedCommand;
    if (parsed.alias.compare(QLatin1StringView("canyon"), Qt::CaseInsensitive) != 0)
        return UnknownAlias;
    std::uint32_t result = 0;
    switch (parsed.verb) {
    case SequencerCommand::Verb::Open:
        result = open(parsed.path);
        break;
    case SequencerCommand::Verb::Play:
        result = play();
        break;
    case SequencerCommand::Verb::Pause:
    case SequencerCommand::Verb::Resume:
        result = pause(parsed.verb == SequencerCommand::Verb::Pause);
        break;
    case SequencerCommand::Verb::Close:
        closeSong();
        break;
    case SequencerCommand::Verb::Seek:
        result = seek(parsed.value);
        break;
    case SequencerCommand::Verb::Volume:
        setVolume(parsed.value);
        break;
    case SequencerCommand::Verb::Set:
        result = chooseSoundFont(parsed.path);
        break;
    case SequencerCommand::Verb::Status:
        if (parsed.item == QLatin1StringView("soundfont"))
            result = soundFontStatus(reply, replyLength);
        else if (const QString answer
                 = parsed.item == QLatin1StringView("mode") ? mode() : status(parsed.item);
                 answer.isEmpty())
            result = UnknownAlias;
        else if (reply && replyLength > 0)
            *reply = answer.left(replyLength - 1);
        break;
    case SequencerCommand::Verb::Invalid:
        break;
    }
    deliverMessages();
    return result;
}

// Only what needs no reading is checked here: the file opens at once (a FIFO or a device never
// blocks) and is a regular file of a song's size. The worker reads it.
std::uint32_t SequencerDevice::open(const QString &path)
{
    auto file = std::make_shared<QFile>();
    const std::lock_guard lock(m_mutex);
    if (m_song != Song::Closed)
        return AliasInUse;
    if (const int error = RegularFile::open(path, *file))
        return error == ENOENT || error == ENOTDIR ? FileNotFound : InvalidFile;
    if (file->size() > MaxFileSize)
        return InvalidFile;
    m_song = Song::Opening;
    m_playWanted = false;
    m_paused = false;
    m_started = false;
    m_outputFailed = false;
    m_fallbackTried = false;
    post([this, generation = ++m_generation, file] { load(generation, *file); });
    return 0;
}

void SequencerDevice::load(std::uint64_t generation, QFile &file)
{
    const auto closed = [&] {
        const std::lock_guard lock(m_mutex);
        return generation != m_generation;
    };
    const auto refuse = [&](std::uint32_t error) {
        const std::lock_guard lock(m_mutex);
        if (generation == m_generation) {
            m_song = Song::Refused;
            m_refusal = error;
        }
    };

    // The song before was closed, and nothing sounds a SoundFont it played with any more.
    if (m_loader)
        m_loader->releaseRetired();
    Smf::ReadResult read;
    {
        const QByteArray data = file.read(file.size());
        if (file.error() != QFileDevice::NoError)
            return refuse(InvalidFile);
        file.close();
        read = Smf::readSong(
            { reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()) });
    }
    if (!read.error.empty())
        return refuse(InvalidFile);
    if (closed())
        return;
    Smf::CanonicalSong canonical = Smf::canonicalSong(read.song);
    read = {};
    if (!canonical.error.empty())
        return refuse(InvalidFile);
    if (!ensureSynth())
        return refuse(NoSynthesizer);
    if (closed())
        return;

    // Nothing renders now: the song's instruments are loaded here, not while it plays.
    if (m_holder)
        m_holder->hold(canonical.song);
    FluidPtr<_fluid_player_t> player(new_fluid_player(m_synth.get()));
    {
        const std::vector<std::uint8_t> songFile = Smf::writeSong(canonical.song);
        m_endTick = canonical.song.endTick;
        canonical = {};
        // FluidSynth takes a copy; this one goes before FluidSynth reads its own.
        if (!player
            || fluid_player_add_mem(player.get(), songFile.data(), songFile.size()) != FLUID_OK)
            return refuse(InvalidFile);
    }
    fluid_player_set_tick_callback(player.get(), &SequencerDevice::onTick, this);
    m_rendered = player.get();
    startAtBeginning();
    fluid_player_play(player.get());
    m_preroll.assign(2 * PrerollFrames, 0.0f);
    renderSynth(m_preroll.data(), m_preroll.data() + 1, 2, PrerollFrames);
    m_prerollUsed = 0;

    const std::lock_guard lock(m_mutex);
    if (generation != m_generation) {
        player.reset();
        silence();
        return;
    }
    m_player = std::move(player);
    m_song = Song::Open;
    if (!m_pulse)
        applyGain();
    if (m_playWanted && !m_paused)
        startOutput();
}

std::uint32_t SequencerDevice::play()
{
    const std::lock_guard lock(m_mutex);
    switch (m_song) {
    case Song::Closed:
        return UnknownAlias;
    case Song::Refused:
        return m_refusal;
    case Song::Opening:
        m_playWanted = true;
        m_paused = false;
        return 0;
    case Song::Open:
        break;
    }
    m_playWanted = true;
    if (m_paused)
        return setPaused(false);
    if (m_started && m_endFrame >= 0 && playedFrames() >= m_endFrame) {
        // Played to its end: it starts again from its beginning.
        if (m_pulsePlays)
            m_pulse->stop();
        m_driverOutput.reset();
        m_pulsePlays = false;
        m_started = false;
        fluid_player_seek(m_player.get(), 0);
        fluid_player_play(m_player.get());
        startAtBeginning();
        m_prerollUsed = m_preroll.size();
    }
    return m_started ? 0 : startOutput();
}

// Counts the song's frames from its beginning, while nothing renders it.
void SequencerDevice::startAtBeginning()
{
    m_frames = 0;
    m_quietSince = 0;
    m_lastEventFrame = -1;
    m_endFrame = -1;
    m_seekTo = -1;
    const std::lock_guard lock(m_baseMutex);
    m_baseMs = 0;
    m_baseFrame = 0;
}

// Pause leaves the song where it is: the output pulls no more sound, so nothing renders and the
// synthesizer keeps its voices and controllers. Resume goes on from there.
std::uint32_t SequencerDevice::pause(bool paused)
{
    const std::lock_guard lock(m_mutex);
    if (m_song == Song::Closed)
        return UnknownAlias;
    return setPaused(paused);
}

// With m_mutex held.
std::uint32_t SequencerDevice::setPaused(bool paused)
{
    if (m_paused == paused)
        return 0;
    m_paused = paused;
    if (m_song != Song::Open || !m_playWanted || m_outputFailed)
        return 0;
    if (!m_started)
        return startOutput();
    if (m_pulsePlays)
        m_pulse->setPaused(paused);
    if (m_driverOutput) {
        QString error;
        if (!m_driverOutput->setPaused(paused, error)) {
            m_outputFailed = true;
            return NoAudioOutput;
        }
    }
    return 0;
}

// "playing" from the play command until the song's sound has died away at the output (also while
// the song is read, or the output waits for the sound server), "paused", or "stopped"; empty when
// no song is open.
QString SequencerDevice::mode()
{
    const std::lock_guard lock(m_mutex);
    bool playing = false;
    switch (m_song) {
    case Song::Closed:
        return {};
    case Song::Refused:
        break;
    case Song::Opening:
        playing = m_playWanted;
        break;
    case Song::Open:
        if (m_started && !m_outputFailed && !m_paused)
            watchOutput();
        playing = m_started && !m_outputFailed && (m_endFrame < 0 || playedFrames() < m_endFrame);
        break;
    }
    if (playing && m_paused)
        return QStringLiteral("paused");
    return playing ? QStringLiteral("playing") : QStringLiteral("stopped");
}

// The song's length, or the time of it the output has played, in milliseconds (0 before the song
// has been read), or the volume in thousandths; empty when no song is open.
QString SequencerDevice::status(const QString &item)
{
    const std::lock_guard lock(m_mutex);
    if (item == QLatin1StringView("volume"))
        return QString::number(m_pulse ? qint64(std::lround(m_pulse->volume() * 1000)) : m_volume);
    if (m_song == Song::Closed)
        return {};
    if (m_song != Song::Open)
        return QStringLiteral("0");
    if (item == QLatin1StringView("length"))
        return QString::number(m_endTick);
    if (const std::int64_t to = m_seekTo; to >= 0)
        return QString::number(to);
    const std::int64_t heard = songMs(m_started ? playedFrames() : 0);
    return QString::number(std::clamp<std::int64_t>(heard, 0, std::int64_t(m_endTick)));
}

// The song's time at a frame of the output, from the last place it started rendering from.
std::int64_t SequencerDevice::songMs(std::int64_t frames)
{
    const std::lock_guard lock(m_baseMutex);
    return m_baseMs + (frames - m_baseFrame) * 1000 / SampleRate;
}

// Moves within the song, playing or paused: what the output has queued is dropped, so that the
// new place sounds at once, and the output's thread goes there before it renders on. A place past
// the end is the end: the song ends as at its last event.
std::uint32_t SequencerDevice::seek(qint64 ms)
{
    const std::lock_guard lock(m_mutex);
    if (m_song == Song::Closed)
        return UnknownAlias;
    if (m_song != Song::Open)
        return m_song == Song::Refused ? m_refusal : 0;
    if (m_pulsePlays)
        m_frames -= m_pulse->flush();
    m_seekTo = std::clamp<std::int64_t>(ms, 0, std::int64_t(m_endTick));
    return 0;
}

// With PulseAudio, the stream's volume (the desktop's mixer shows and sets the same); with other
// outputs, the synthesizer's gain, on the same curve (cubic in amplitude).
void SequencerDevice::setVolume(qint64 thousandths)
{
    const std::lock_guard lock(m_mutex);
    m_volume = std::clamp<qint64>(thousandths, 0, 1000);
    if (m_pulse)
        m_pulse->setVolume(double(m_volume) / 1000);
    else if (m_song == Song::Open)
        applyGain();
}

// With m_mutex held, once the synthesizer is made: FluidSynth's own gain (0.2) scaled.
void SequencerDevice::applyGain()
{
    const double volume = double(m_volume) / 1000;
    fluid_synth_set_gain(m_synth.get(), float(0.2 * volume * volume * volume));
}

// Cuts the song at once: no render call comes once the output has gone, and then the synthesizer
// falls silent.
void SequencerDevice::closeSong()
{
    FluidPtr<_fluid_player_t> player;
    std::unique_ptr<DriverOutput> driverOutput;
    bool pulsePlays = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_song == Song::Closed)
            return;
        ++m_generation;
        m_song = Song::Closed;
        player = std::move(m_player);
        driverOutput = std::move(m_driverOutput);
        pulsePlays = m_pulsePlays.exchange(false);
        m_started = false;
        m_playWanted = false;
        m_paused = false;
    }
    if (pulsePlays)
        m_pulse->stop();
    driverOutput.reset();
    // Without a player the song was still being read: the worker leaves the synthesizer silent.
    if (!player)
        return;
    player.reset();
    silence();
}

// Resets the synthesizer, as FluidSynth's player does between songs, with nothing rendering and
// no player: every voice ends and the reverb and chorus are emptied, so that none of a song sounds
// in the next. A reset alone lets the voices ring out: they are ended in a block rendered first.
void SequencerDevice::silence()
{
    fluid_synth_all_sounds_off(m_synth.get(), -1);
    std::vector<float> block(2 * PrerollFrames);
    fluid_synth_write_float(m_synth.get(), PrerollFrames, block.data(), 0, 2, block.data(), 1, 2);
    fluid_synth_system_reset(m_synth.get());
    fluid_synth_write_float(m_synth.get(), PrerollFrames, block.data(), 0, 2, block.data(), 1, 2);
}

// On the worker.
bool SequencerDevice::ensureSynth()
{
    if (!m_synth)
        loadSynth();
    return bool(m_synth);
}

// On the worker. What went wrong is said once, by the first open that meets it.
bool SequencerDevice::loadSynth()
{
    QString problem;
    if (std::string error; !FluidLibrary::load(error)) {
        problem = QStringLiteral("FluidSynth could not be loaded, so songs cannot be heard:\n%1\n"
                                 "Install the package libfluidsynth3.")
                      .arg(QString::fromStdString(error));
    } else {
        // Set here rather than at construction: FluidSynth is loaded by its first use.
        FluidLog::capture();
        FluidPtr<_fluid_hashtable_t> settings(new_fluid_settings());
        FluidPtr<_fluid_synth_t> synth;
        if (settings) {
            fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
            fluid_settings_setnum(settings.get(), "synth.sample-rate", SampleRate);
            fluid_settings_setint(settings.get(), "audio.period-size", PeriodSize);
            fluid_settings_setint(settings.get(), "audio.periods", Periods);
            fluid_settings_setint(settings.get(), "audio.jack.autoconnect", 1);
            fluid_settings_setint(settings.get(), "synth.dynamic-sample-loading",
                m_loading == SampleLoading::Dynamic);
            synth = newFluidSynth(settings.get());
        }
        if (synth) {
            QString chosen;
            {
                const std::lock_guard lock(m_mutex);
                chosen = m_soundFontChoice;
            }
            const SoundFont::Loaded loaded = SoundFont::load(synth.get(), settings.get(), chosen);
            problem = loaded.message;
            if (loaded.id >= 0) {
                m_settings = std::move(settings);
                m_synth = std::move(synth);
                const std::lock_guard lock(m_mutex);
                m_soundFontInUse = loaded.path;
            }
        }
    }
    if (m_synth && m_loading == SampleLoading::Dynamic) {
        m_holder = std::make_unique<SampleHolder>(m_synth.get());
        // Without it the audio thread loads what the song selects, as FluidSynth itself does.
        if (!m_holder->valid())
            m_holder.reset();
    }
    if (!problem.isEmpty() && !std::exchange(m_synthProblemReported, true)) {
        qWarning("Quavrel: %s", qUtf8Printable(problem.section(QLatin1Char('\n'), 0, 0)));
        say(problem);
    }
    const std::lock_guard lock(m_mutex);
    m_synthTried = true;
    return bool(m_synth);
}

void SequencerDevice::say(const QString &text)
{
    const std::lock_guard lock(m_mutex);
    m_messages.push_back(text);
}

// Said on the thread that sends commands, outside the lock.
void SequencerDevice::deliverMessages()
{
    std::vector<QString> messages;
    {
        const std::lock_guard lock(m_mutex);
        messages.swap(m_messages);
    }
    for (const QString &text : messages) {
        if (m_messageHandler)
            m_messageHandler(text);
    }
}

int SequencerDevice::heldInstrumentCount()
{
    finishWork();
    return m_holder ? m_holder->instrumentCount() : 0;
}

std::uint64_t SequencerDevice::soundFontBytesRead()
{
    return SoundFont::bytesRead();
}

QString SequencerDevice::soundFontPath()
{
    return SoundFont::firstUsable();
}
