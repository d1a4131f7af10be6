#pragma once

#include "sequencer/fluid.h"

#include <QFile>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// A song's way to the speakers other than Quavrel's own PulseAudio stream: one of FluidSynth's
// audio drivers, or "file", a 16-bit WAV file written in real time (fluidsynth.wav in the working
// folder, as FluidSynth's own file driver names it). Either pulls its frames from a render
// function on a thread of its own, which runs only while the output plays: paused, or gone, no
// render call comes any more.
class DriverOutput
{
public:
    // Renders frames of stereo sound, left and right samples step floats apart.
    using Render = std::function<void(float *left, float *right, int step, int frames)>;

    // Starts the driver of that name playing; null, with FluidSynth's reason, when it cannot.
    static std::unique_ptr<DriverOutput> open(
        const QString &name, _fluid_hashtable_t *settings, Render render, QString &error);

    ~DriverOutput();
    DriverOutput(const DriverOutput &) = delete;
    DriverOutput &operator=(const DriverOutput &) = delete;

    // Stops or starts pulling frames; false, with the reason, when the driver cannot start again.
    bool setPaused(bool paused, QString &error);

private:
    DriverOutput(const QString &name, _fluid_hashtable_t *settings, Render render);
    bool run(QString &error);
    void halt();
    void writeFile();

    static int onDriver(
        void *data, int frames, int effects, float *fx[], int outputs, float *out[]);

    const QString m_name;
    _fluid_hashtable_t *m_settings;
    Render m_render;
    FluidPtr<_fluid_audio_driver_t> m_driver;
    // The file output: its thread writes while m_running holds.
    QFile m_file;
    std::thread m_writer;
    std::atomic<bool> m_running { false };
};
