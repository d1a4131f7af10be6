#pragma once

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
// The connection to the server outlives the streams: once connected, the mainloop thread holds it
// and sleeps in poll() while no stream plays. A stream keeps half a second queued at the server and
// is topped up each time a tenth of a second has played, so the mainloop thread and the server
// wake about ten times a second. stop() ends a stream at once, dropping what was queued.
//
// A stream starts with a short write (about 50 ms) that the server plays at once, and the rest of
// its queue is rendered while that plays.
//
// The render function runs on the mainloop thread with its lock held; start(), stop() and
// playedFrames() take the same lock, so no call to the render function overlaps them or comes
// after stop() has returned.
class PulseOutput
{
public:
    static constexpr int SampleRate = 44100;
    using Render = std::function<void(float *samples, int frames)>;

    PulseOutput() = default;
    ~PulseOutput();
    PulseOutput(const PulseOutput &) = delete;
    PulseOutput &operator=(const PulseOutput &) = delete;

    // Connects to the server unless connected, waiting for its answer. On failure no thread is
    // left running, and error says why.
    bool connect(std::string &error);
    bool connected();

    // Starts a stream that plays what render gives it; connects first when needed.
    bool start(Render render, std::string &error);
    // Ends the stream; what the server had queued is not played.
    void stop();
    bool streaming() const { return bool(m_stream); }

    // Frames of the stream the server has played so far.
    std::int64_t playedFrames();
    // The stream or the connection broke (the server went away).
    bool failed();

private:
    static void onContextState(pa_context *context, void *data);
    static void onStreamState(pa_stream *stream, void *data);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *data);
    static void onRefill(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *data);
    void write(std::size_t bytes);
    void disconnect();

    struct Deleter
    {
        void operator()(pa_threaded_mainloop *mainloop) const;
        void operator()(pa_context *context) const;
        void operator()(pa_stream *stream) const;
    };
    template <typename T> using Ptr = std::unique_ptr<T, Deleter>;

    // Declared in the order they are made; disconnect() ends them in reverse.
    Ptr<pa_threaded_mainloop> m_mainloop;
    Ptr<pa_context> m_context;
    Ptr<pa_stream> m_stream;
    Render m_render;
    // The first write of a stream is short, so that it starts sounding sooner; this event (freed
    // by the mainloop's API) writes the rest of the server's first request right after it.
    bool m_written = false;
    pa_time_event *m_refill = nullptr;
};
