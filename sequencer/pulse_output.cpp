#include "sequencer/pulse_output.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>

namespace {

constexpr std::size_t FrameBytes = 2 * sizeof(float);

std::uint32_t bytesFor(int milliseconds)
{
    return std::uint32_t(PulseOutput::SampleRate * milliseconds / 1000) * FrameBytes;
}

// Queued at the server: half a second, so that the server's own buffer holds about 150 ms and
// it wakes seldom (PulseAudio gives the sink half of what is left after twice the request).
constexpr int QueuedMs = 500;
// Topped up after a tenth of a second has played: about ten wake-ups a second.
constexpr int RequestMs = 100;
// Playing starts once this much is there, not the whole queue; the first write is a little more.
constexpr int StartMs = 20;
constexpr int FirstWriteMs = 50;

struct Proplist
{
    pa_proplist *list = pa_proplist_new();
    Proplist()
    {
        pa_proplist_sets(list, PA_PROP_MEDIA_ROLE, "music");
        pa_proplist_sets(list, PA_PROP_APPLICATION_ICON_NAME, "io.github.quavrel.Quavrel");
    }
    ~Proplist() { pa_proplist_free(list); }
    Proplist(const Proplist &) = delete;
    Proplist &operator=(const Proplist &) = delete;
};

class Lock
{
public:
    explicit Lock(pa_threaded_mainloop *mainloop)
        : m_mainloop(mainloop)
    {
        pa_threaded_mainloop_lock(m_mainloop);
    }
    ~Lock() { pa_threaded_mainloop_unlock(m_mainloop); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    pa_threaded_mainloop *m_mainloop;
};

} // namespace

void PulseOutput::Deleter::operator()(pa_threaded_mainloop *mainloop) const
{
    pa_threaded_mainloop_stop(mainloop);
    pa_threaded_mainloop_free(mainloop);
}

void PulseOutput::Deleter::operator()(pa_context *context) const
{
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

void PulseOutput::Deleter::operator()(pa_stream *stream) const
{
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

PulseOutput::~PulseOutput()
{
    stop();
    disconnect();
}

bool PulseOutput::connected()
{
    if (!m_mainloop)
        return false;
    const Lock lock(m_mainloop.get());
    return m_context && pa_context_get_state(m_context.get()) == PA_CONTEXT_READY;
}

bool PulseOutput::connect(std::string &error)
{
    if (connected())
        return true;
    disconnect();
    m_mainloop.reset(pa_threaded_mainloop_new());
    if (!m_mainloop) {
        error = "cannot create a PulseAudio mainloop";
        return false;
    }
    pa_threaded_mainloop *mainloop = m_mainloop.get();
    pa_threaded_mainloop_set_name(mainloop, "pulse-output");
    {
        const Proplist properties;
        m_context.reset(pa_context_new_with_proplist(
            pa_threaded_mainloop_get_api(mainloop), "Quavrel", properties.list));
    }
    if (!m_context || pa_threaded_mainloop_start(mainloop) < 0) {
        error = "cannot start a PulseAudio mainloop";
        disconnect();
        return false;
    }
    pa_context *context = m_context.get();
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    {
        const Lock lock(mainloop);
        pa_context_set_state_callback(context, &PulseOutput::onContextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0) {
            for (state = pa_context_get_state(context);
                 state != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state);
                 state = pa_context_get_state(context))
                pa_threaded_mainloop_wait(mainloop);
        }
        if (state != PA_CONTEXT_READY)
            error = pa_strerror(pa_context_errno(context));
    }
    if (state != PA_CONTEXT_READY) {
        disconnect();
        return false;
    }
    return true;
}

void PulseOutput::disconnect()
{
    if (!m_mainloop)
        return;
    // The mainloop thread ends first, so no callback runs while the context goes.
    pa_threaded_mainloop_stop(m_mainloop.get());
    m_context.reset();
    m_mainloop.reset();
}

bool PulseOutput::start(Render render, std::string &error)
{
    stop();
    if (!connect(error))
        return false;
    pa_threaded_mainloop *mainloop = m_mainloop.get();
    const Lock lock(mainloop);
    const pa_sample_spec format { PA_SAMPLE_FLOAT32NE, SampleRate, 2 };
    const Proplist properties;
    m_stream.reset(
        pa_stream_new_with_proplist(m_context.get(), "Quavrel", &format, nullptr, properties.list));
    if (!m_stream) {
        error = pa_strerror(pa_context_errno(m_context.get()));
        return false;
    }
    pa_stream *stream = m_stream.get();
    m_render = std::move(render);
    m_written = false;
    pa_stream_set_state_callback(stream, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(stream, &PulseOutput::onWrite, this);
    pa_buffer_attr attributes {};
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = bytesFor(QueuedMs);
    attributes.prebuf = bytesFor(StartMs);
    attributes.minreq = bytesFor(RequestMs);
    attributes.fragsize = std::uint32_t(-1);
    const auto flags = pa_stream_flags_t(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    pa_stream_state_t state = PA_STREAM_UNCONNECTED;
    if (pa_stream_connect_playback(stream, nullptr, &attributes, flags, nullptr, nullptr) >= 0) {
        for (state = pa_stream_get_state(stream);
             state != PA_STREAM_READY && PA_STREAM_IS_GOOD(state);
             state = pa_stream_get_state(stream))
            pa_threaded_mainloop_wait(mainloop);
    }
    if (state != PA_STREAM_READY) {
        error = pa_strerror(pa_context_errno(m_context.get()));
        m_stream.reset();
        m_render = {};
        return false;
    }
    return true;
}

void PulseOutput::stop()
{
    if (!m_stream)
        return;
    pa_threaded_mainloop *mainloop = m_mainloop.get();
    pa_stream *stream = m_stream.get();
    const Lock lock(mainloop);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (m_refill) {
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(mainloop);
        api->time_free(m_refill);
        m_refill = nullptr;
    }
    // Waits for the server to have dropped the stream (one round trip), so that it is silent when
    // this returns.
    if (pa_stream_disconnect(stream) >= 0) {
        while (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            pa_threaded_mainloop_wait(mainloop);
    }
    m_stream.reset();
    m_render = {};
}

std::int64_t PulseOutput::playedFrames()
{
    if (!m_stream)
        return 0;
    const Lock lock(m_mainloop.get());
    pa_usec_t played = 0;
    if (pa_stream_get_time(m_stream.get(), &played) < 0)
        return 0;
    return std::int64_t(played * SampleRate / PA_USEC_PER_SEC);
}

bool PulseOutput::failed()
{
    if (!m_mainloop)
        return true;
    const Lock lock(m_mainloop.get());
    return !m_context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context.get()))
        || (m_stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream.get())));
}

void PulseOutput::onContextState(pa_context *, void *data)
{
    pa_threaded_mainloop_signal(static_cast<PulseOutput *>(data)->m_mainloop.get(), 0);
}

void PulseOutput::onStreamState(pa_stream *, void *data)
{
    pa_threaded_mainloop_signal(static_cast<PulseOutput *>(data)->m_mainloop.get(), 0);
}

void PulseOutput::onWrite(pa_stream *, std::size_t bytes, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    if (output->m_written) {
        output->write(bytes);
        return;
    }
    output->write(std::min<std::size_t>(bytes, bytesFor(FirstWriteMs)));
    // Time events run after the mainloop has sent what is queued for the server.
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(output->m_mainloop.get());
    timeval now {};
    pa_gettimeofday(&now);
    output->m_refill = api->time_new(api, &now, &PulseOutput::onRefill, output);
}

void PulseOutput::onRefill(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    api->time_free(event);
    output->m_refill = nullptr;
    if (output->m_stream)
        output->write(pa_stream_writable_size(output->m_stream.get()));
}

void PulseOutput::write(std::size_t bytes)
{
    m_written = true;
    while (bytes >= FrameBytes) {
        void *buffer = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(m_stream.get(), &buffer, &size) < 0 || !buffer)
            return;
        size -= size % FrameBytes;
        if (size == 0) {
            pa_stream_cancel_write(m_stream.get());
            return;
        }
        m_render(static_cast<float *>(buffer), int(size / FrameBytes));
        if (pa_stream_write(m_stream.get(), buffer, size, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= size;
    }
}
