#pragma once

#include <pulse/def.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

// Sound output on PulseAudio's asynchronous API (PipeWire desktops serve it too): stereo float
// frames at 44100 Hz, pulled from a render function on PulseAudio's mainloop thread whenever the
// server asks for more.
//
// Nothing here waits for the server: calls take the mainloop's lock, which its thread holds only
// while it handles an event (rendering a tenth of a second at most), never while it waits. A
// server that is away, or accepts and does not answer, only delays the stream.
//
// The connection outlives the streams: once connected, the mainloop thread holds it and sleeps in
// poll() while no stream plays. A stream keeps half a second queued at the server and is topped up
// each time a tenth of a second has played, so the mainloop thread and the server wake about ten
// times a second. A stream starts with a short write (about 50 ms) that the server plays at once,
// and the rest of its queue is rendered while that plays.
//
// A server that goes away is no error: while a stream is wanted, the connection and the stream
// are made again four times a second until the server is back, and the stream goes on with what
// render gives next (what the lost stream had queued is not heard). Paused, a stream is corked:
// the server keeps its queue and asks for nothing, so nothing renders.
//
// The render function runs on the mainloop thread with its lock held; no call to it overlaps
// start() or stop(), or comes after stop() has returned.
class PulseOutput
{
public:
    static constexpr int SampleRate = 44100;
    using Render = std::function<void(float *samples, int frames)>;

    // volumeChanged is called on the output's own thread when the server reports a new volume
    // for the stream (the desktop's mixer changed it).
    explicit PulseOutput(std::function<void()> volumeChanged);
    ~PulseOutput();
    PulseOutput(const PulseOutput &) = delete;
    PulseOutput &operator=(const PulseOutput &) = delete;

    // Starts connecting to the server unless connected or connecting.
    void connect();
    // Whether a server has been reached since this output was made.
    bool reached() const { return m_reached.load(); }
    // Whether the last attempt to connect found no server to talk to (as opposed to one that is
    // still being reached).
    bool refused();

    // Wants a stream that plays what render gives it; it starts as soon as the server is there.
    void start(Render render);
    // Ends the stream at once; what the server had queued is not played.
    void stop();
    void setPaused(bool paused);
    // Drops what the server has queued of the stream, so that what render gives next sounds at
    // once; returns how many frames were dropped.
    std::int64_t flush();

    // The stream's volume on PulseAudio's scale (1.0 is 100 %, as the desktop's mixer shows it),
    // kept for the streams that follow; a change made in the mixer is read back.
    void setVolume(double volume);
    double volume();

    // Frames played since start(): what the server has played of the stream, plus everything
    // given to streams that broke before it. Also from the render function.
    std::int64_t playedFrames();
    // How long a wanted stream that is not paused has gone without the server asking for sound,
    // in milliseconds; 0 while it asks.
    std::int64_t silentMs();
    // Why the server could not be reached or the stream broke, last.
    std::string lastError();

private:
    static void onContextState(pa_context *context, void *data);
    static void onStreamState(pa_stream *stream, void *data);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *data);
    static void onRefill(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *data);
    static void onRetry(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *data);
    static void onSubscription(
        pa_context *context, pa_subscription_event_type_t type, std::uint32_t index, void *data);
    static void onSinkInput(
        pa_context *context, const struct pa_sink_input_info *info, int eol, void *data);
    std::int64_t playedLocked();
    bool contextBroken() const;
    bool streamReady() const;
    void watchVolume();
    void readVolume();
    void makeContext();
    void makeStream();
    void dropStream();
    void scheduleRetry();
    void write(std::size_t bytes);

    struct Deleter
    {
        void operator()(pa_threaded_mainloop *mainloop) const;
        void operator()(pa_context *context) const;
        void operator()(pa_stream *stream) const;
    };
    template <typename T> using Ptr = std::unique_ptr<T, Deleter>;

    // Declared in the order they are made; the destructor ends them in reverse.
    Ptr<pa_threaded_mainloop> m_mainloop;
    Ptr<pa_context> m_context;
    Ptr<pa_stream> m_stream;
    std::atomic<bool> m_reached { false };

    // The stream wanted, with the mainloop's lock.
    bool m_wanted = false;
    bool m_paused = false;
    Render m_render;
    // Frames given to the streams since start() before the current one, and to the current one.
    std::int64_t m_earlierFrames = 0;
    std::int64_t m_streamFrames = 0;
    // When the server last asked for sound, or the stream was wanted or resumed (steady clock).
    std::int64_t m_lastAskedMs = 0;
    std::string m_error;
    // The volume, once set or read from the server; 0 while unknown.
    std::uint32_t m_volume = 0;
    std::function<void()> m_volumeChanged;
    // The first write of a stream is short, so that it starts sounding sooner; this event (freed
    // by the mainloop's API) writes the rest of the server's first request right after it.
    bool m_written = false;
    pa_time_event *m_refill = nullptr;
    // The next attempt to reach the server or make the stream again.
    pa_time_event *m_retry = nullptr;
};
