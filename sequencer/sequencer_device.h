#pragma once

#include "sequencer/fluid.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class PulseOutput;
class SampleHolder;

// The sequencer device on libfluidsynth: opens one song at a time under the alias "canyon",
// plays it through an audio output in the background and answers its mode.
//
// prepare() does the one-time work on a thread of its own: the synthesizer with its SoundFont,
// and the connection to the sound server. The first open waits for whatever is left of it.
//
// Open reads the file with the own bounded MIDI reader and hands FluidSynth a canonical file it
// wrote itself, so that FluidSynth's parser never sees a malformed one. The synthesizer and its
// SoundFont are created at the first successful open (or by prepare()) and kept. The audio output
// is Quavrel's own PulseAudio stream, or one of FluidSynth's drivers when QUAVREL_AUDIO_DRIVER
// names one or PulseAudio cannot be reached. Nothing renders while no song plays: a stream or
// driver exists only while a song is open and has been played; the PulseAudio connection is kept,
// held by a thread that sleeps.
// The synthesizer loads a SoundFont's samples per instrument (FluidSynth's dynamic sample
// loading): open loads those of every instrument the song can select, from the calling thread,
// and keeps them referenced by a second synthesizer that shares the SoundFont and never plays, so
// the audio thread never reads the SoundFont from disk. Instruments of earlier songs are
// released at the next open.
//
// FluidSynth's audio thread, or PulseAudio's, calls back into this class only to render, store
// the current tick and log lines; nothing there touches Qt. With PulseAudio the song reads as
// playing until the server has played its last event.
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

    static constexpr int SampleRate = 44100;
    // Files larger than this are no songs; refusing them bounds the memory an open takes.
    static constexpr qint64 MaxFileSize = 128 * 1024 * 1024;

    explicit SequencerDevice(
        Output output = Output::Audio, SampleLoading loading = SampleLoading::Dynamic);
    ~SequencerDevice();
    SequencerDevice(const SequencerDevice &) = delete;
    SequencerDevice &operator=(const SequencerDevice &) = delete;

    // Starts creating the synthesizer and connecting to the sound server on another thread.
    void prepare();

    // Runs one command string; 0 on success, else one of the codes above. The status query
    // stores "playing" or "stopped" in *reply (at most replyLength - 1 characters).
    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength);

    // Called with a text to show the user when songs cannot sound as they should: once per device
    // when no audio output can be opened (the fixed message, a line break and FluidSynth's reason),
    // and once when the SoundFont that QUAVREL_SOUNDFONT names cannot be used, or none can (which
    // file, what is wrong with it, how to mend it).
    void setMessageHandler(std::function<void(const QString &text)> handler);

    // Offline output: renders the next frames (stereo, interleaved) and advances the song.
    std::vector<float> render(int frames);

    // The SoundFont a new device loads: the first of QUAVREL_SOUNDFONT and the usual system
    // SoundFonts that passes the checks of SoundFont::problem(); empty when none does.
    static QString soundFontPath();

    // Bytes of SoundFont read from disk by every device of the process so far.
    static std::uint64_t soundFontBytesRead();

    // Instruments whose samples are held: the open song's, and those the synthesizer's channels
    // still had from the song before (0 with full loading).
    int heldInstrumentCount() const;

private:
    std::uint32_t open(const QString &path);
    std::uint32_t play();
    QString mode() const;
    void closeSong();
    bool ensureSynth();
    bool startPlayer();
    bool openAudioOutput(QString &reason);
    bool startPulseOutput(std::string &error);
    void closeAudioOutput();
    bool audioOutputOpen() const;
    bool loadSynth();
    void finishPreparing();

    static int onTick(void *data, int tick);

    const Output m_output;
    const SampleLoading m_loading;
    std::function<void(const QString &)> m_messageHandler;
    bool m_noAudioReported = false;
    bool m_synthProblemReported = false;
    // What to tell the user about the last attempt to make the synthesizer (its library, its
    // SoundFont), said once.
    QString m_synthProblem;

    // Written by the audio thread, read here.
    std::atomic<int> m_tick { 0 };
    // Frames rendered into the PulseAudio stream (touched by the audio thread only while it
    // plays), and the frame of the stream where the song's last event sounds (-1 before).
    std::int64_t m_renderedFrames = 0;
    std::atomic<std::int64_t> m_endFrame { -1 };

    // prepare()'s thread: until the first open joins it, it alone touches the synthesizer and
    // m_pulse, and no song is open.
    std::thread m_preparing;
    std::unique_ptr<PulseOutput> m_pulse;

    FluidPtr<_fluid_hashtable_t> m_settings;
    FluidPtr<_fluid_synth_t> m_synth;
    // Holds the samples of the open song's instruments (dynamic sample loading only).
    std::unique_ptr<SampleHolder> m_holder;

    // The open song.
    bool m_open = false;
    bool m_started = false;
    std::vector<std::uint8_t> m_songFile;
    std::uint64_t m_endTick = 0;
    FluidPtr<_fluid_player_t> m_player;
    FluidPtr<_fluid_audio_driver_t> m_driver;
};
