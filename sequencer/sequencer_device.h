#pragma once

#include "sequencer/fluid.h"
#include "sequencer/worker.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class DriverOutput;
class PulseOutput;
class QFile;
class SampleHolder;
class SoundFontLoader;

// The sequencer device on libfluidsynth: opens one song at a time under the alias "canyon",
// plays it through an audio output in the background, pauses and resumes it, and answers its mode.
//
// Commands return at once: nothing on the thread that sends them waits for a file, the
// synthesizer or the sound server. Open checks only that the path names a regular file; a worker
// thread then reads it with the own bounded MIDI reader, hands FluidSynth a canonical file it
// wrote itself (so that FluidSynth's parser never sees a malformed one), loads the samples of the
// song's instruments and lets FluidSynth read its copy, before anything plays. Meanwhile a played
// song reads as playing, and once refused as stopped. The same worker makes the synthesizer with
// its SoundFont when prepare() asks, or at the first open.
//
// The audio output is Quavrel's own PulseAudio stream, which waits for a server that is away and
// goes on where the sound stopped once it is back; or one of FluidSynth's drivers when
// QUAVREL_AUDIO_DRIVER names one, or when no PulseAudio server has ever been reached and one of
// them opens. Nothing renders while no song plays or while it is paused: an output exists only
// while a song is open and has been played, and pulls no sound while paused; the PulseAudio
// connection is kept, held by a thread that sleeps.
//
// A song plays until its sound has died away: every event played and the output below -80 dB of
// full scale for 100 ms, or 3 s after its last event at most (a note that never ends is faded out
// over the last 50 ms). With PulseAudio it reads as playing until the server has played
// that far.
//
// FluidSynth's audio thread, or PulseAudio's, calls back into this class only to render and to
// note the song's tick; nothing there touches Qt or takes the device's lock.
class SequencerDevice
{
public:
    enum class Output {
        // Play opens a real audio output (QUAVREL_AUDIO_DRIVER, else the desktop's).
        Audio,
        // No audio output: the song advances only as render() is called (for tests).
        Offline,
    };

    enum class SampleLoading {
        // Samples per instrument, loaded at open for the song's instruments.
        Dynamic,
        // The whole SoundFont in memory (to compare against).
        Full,
    };

    // Result codes, numbered as the Windows MCI errors they stand for.
    static constexpr std::uint32_t UnrecognizedCommand = 261;
    static constexpr std::uint32_t NoAudioOutput = 262;
    static constexpr std::uint32_t UnknownAlias = 263;
    static constexpr std::uint32_t FileNotFound = 275;
    static constexpr std::uint32_t AliasInUse = 289;
    static constexpr std::uint32_t InvalidFile = 296;
    static constexpr std::uint32_t NoSynthesizer = 343;
    static constexpr std::uint32_t NotReady = 276;

    static constexpr int SampleRate = 44100;
    // Files larger than this are no songs; refusing them bounds the memory an open takes.
    static constexpr qint64 MaxFileSize = 128 * 1024 * 1024;
    // A sound server away for longer than this is said, once.
    static constexpr int ServerPatienceMs = 15000;

    explicit SequencerDevice(
        Output output = Output::Audio, SampleLoading loading = SampleLoading::Dynamic);
    ~SequencerDevice();
    SequencerDevice(const SequencerDevice &) = delete;
    SequencerDevice &operator=(const SequencerDevice &) = delete;

    // Starts creating the synthesizer and connecting to the sound server in the background.
    void prepare();

    // Runs one command string: "open <path> type sequencer alias canyon", "play canyon",
    // "pause canyon", "resume canyon", "seek canyon to <ms>", "close canyon",
    // "setaudio canyon volume to <0..1000>", "set canyon soundfont <path>",
    // "status canyon mode|position|length|volume|soundfont". Returns 0 on success, else one of
    // the codes above. The status query stores its answer in *reply (at most replyLength - 1
    // characters): the mode "playing", "paused" or "stopped", the song's position as heard or its
    // length in milliseconds, the volume in thousandths, or the path of the SoundFont in use (""
    // for none).
    //
    // Set chooses the SoundFont (empty: QUAVREL_SOUNDFONT's, else the system's); the worker checks
    // and loads it, and a song that plays goes on with it. Until it is in use, or found unusable
    // (then said, and the one in use stays), "status canyon soundfont" fails with NotReady, as it
    // does until the first synthesizer is made. Set before then only names the one to make it with.
    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength);

    // Called, on the thread that sends commands, with a text to show the user when songs cannot
    // sound as they should: once per device when no audio output can be opened or the sound
    // server stays away (the fixed message, a line break and the reason), and once when the
    // SoundFont that QUAVREL_SOUNDFONT names cannot be used, or none can (which file, what is
    // wrong with it, how to mend it).
    void setMessageHandler(std::function<void(const QString &text)> handler);
    // Called on the sound server's thread when the desktop's mixer changes the song's volume;
    // an empty handler stops the calls (and waits for one that runs).
    void setVolumeHandler(std::function<void()> handler);

    // Offline output: renders the next frames (stereo, interleaved) and advances the song, once a
    // song that opens has been read.
    std::vector<float> render(int frames);

    // Waits until the background work asked for so far is done (for tests and benchmarks).
    void finishWork();

    // The SoundFont a new device loads: the first of QUAVREL_SOUNDFONT and the usual system
    // SoundFonts that passes the checks of SoundFont::problem(); empty when none does.
    static QString soundFontPath();

    // Bytes of SoundFont read from disk by every device of the process so far.
    static std::uint64_t soundFontBytesRead();

    // Instruments whose samples are held: the open song's, and those the synthesizer's channels
    // still had from the song before (0 with full loading).
    int heldInstrumentCount();

private:
    enum class Song { Closed, Opening, Open, Refused };

    std::uint32_t open(const QString &path);
    std::uint32_t play();
    std::uint32_t pause(bool paused);
    std::uint32_t setPaused(bool paused);
    std::uint32_t seek(qint64 ms);
    QString mode();
    QString status(const QString &item);
    void setVolume(qint64 thousandths);
    void applyGain();
    void closeSong();
    void silence();
    void load(std::uint64_t generation, QFile &file);
    void startAtBeginning();
    bool ensureSynth();
    bool loadSynth();
    void say(const QString &text);
    void deliverMessages();

    // The SoundFont (sequencer/soundfont_choice.cpp).
    std::uint32_t chooseSoundFont(const QString &path);
    std::uint32_t soundFontStatus(QString *reply, int replyLength);
    void switchSoundFont(const QString &path);

    // The output side (sequencer/device_output.cpp), with m_mutex held but for playedFrames(),
    // which the output's thread calls too.
    std::uint32_t startOutput();
    void connectPulse();
    std::unique_ptr<DriverOutput> openDriver(const QString &name, QString &error);
    bool openFallbackOutput();
    void watchOutput();
    void reportNoAudio(const QString &reason);
    std::int64_t playedFrames();
    // Rendering, on the output's thread.
    void renderSong(float *left, float *right, int step, int frames);
    void renderSynth(float *left, float *right, int step, int frames);
    void applySeek(std::int64_t ms);
    std::int64_t songMs(std::int64_t frames);
    void followTail(float *left, float *right, int step, int frames);
    static int onTick(void *data, int tick);

    const Output m_output;
    const SampleLoading m_loading;
    std::function<void(const QString &)> m_messageHandler;

    // The worker: prepares, makes the synthesizer and reads songs, one job after another.
    void post(std::function<void()> job) { m_worker.post(std::move(job)); }
    Worker m_worker;
    bool m_prepared = false;

    // Guards the song's state between the thread that sends commands and the worker.
    std::mutex m_mutex;
    Song m_song = Song::Closed;
    // Counts opens and closes, so that the worker can tell a song it reads was closed meanwhile.
    std::uint64_t m_generation = 0;
    std::uint32_t m_refusal = 0;
    bool m_playWanted = false;
    bool m_paused = false;
    bool m_started = false;
    bool m_outputFailed = false;
    bool m_fallbackTried = false;
    bool m_noAudioReported = false;
    QStringList m_fallbackFailures;
    std::vector<QString> m_messages;
    FluidPtr<_fluid_player_t> m_player;
    std::unique_ptr<DriverOutput> m_driverOutput;
    // Whether the song plays through m_pulse; read by the output's thread too.
    std::atomic<bool> m_pulsePlays { false };

    // Made by the worker; with the song's state published under m_mutex.
    FluidPtr<_fluid_hashtable_t> m_settings;
    FluidPtr<_fluid_synth_t> m_synth;
    // Holds the samples of the open song's instruments (dynamic sample loading only).
    std::unique_ptr<SampleHolder> m_holder;
    bool m_synthProblemReported = false;
    std::unique_ptr<PulseOutput> m_pulse;
    // Reads the SoundFonts chosen once the synthesizer is made; outlives it.
    std::unique_ptr<SoundFontLoader> m_loader;
    // With m_mutex: the SoundFont chosen (empty: the default), the one in use, the choices the
    // worker has still to make, and whether the synthesizer has been made, or tried.
    QString m_soundFontChoice;
    QString m_soundFontInUse;
    int m_soundFontSwitches = 0;
    bool m_synthTried = false;

    // The volume in thousandths, on PulseAudio's scale, as the desktop's mixer shows it.
    qint64 m_volume = 1000;
    void volumeChanged();
    std::mutex m_volumeHandlerMutex;
    std::function<void()> m_volumeHandler;

    // The open song as it renders: written by the worker before its output starts, then by the
    // output's thread only. Frames count from the song's start, as the output gets them.
    std::uint64_t m_endTick = 0;
    _fluid_player_t *m_rendered = nullptr;
    std::vector<float> m_preroll;
    std::size_t m_prerollUsed = 0;
    std::atomic<std::int64_t> m_frames { 0 };
    std::int64_t m_quietSince = 0;
    // Where the song's last event was rendered, and where its sound has died away (-1 before).
    std::atomic<std::int64_t> m_lastEventFrame { -1 };
    std::atomic<std::int64_t> m_endFrame { -1 };
    // A seek asked for and not yet rendered (-1 for none), in milliseconds; and the song's time
    // at a frame where the output started rendering from there.
    std::atomic<std::int64_t> m_seekTo { -1 };
    std::mutex m_baseMutex;
    std::int64_t m_baseMs = 0;
    std::int64_t m_baseFrame = 0;
};
