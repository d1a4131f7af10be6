#include "sequencer/pulse_output.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <chrono>
#include <utility>

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
// While a stream is wanted and the server is away, it is looked for this often.
constexpr int RetryMs = 250;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

// Operations whose end nobody waits for.
void forget(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}

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

// Disconnects the stream, and lets go of it once the server has dropped it. A stream the server is
// still making cannot be disconnected yet: that is done as soon as it is made.
void PulseOutput::Deleter::operator()(pa_stream *stream) const
{
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    const auto ending = [](pa_stream *stream, void *) {
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) {
            pa_stream_disconnect(stream);
        } else if (!PA_STREAM_IS_GOOD(state)) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
        }
    };
    pa_stream_set_state_callback(stream, ending, nullptr);
    ending(stream, nullptr);
}

PulseOutput::PulseOutput(std::function<void()> volumeChanged)
    : m_mainloop(pa_threaded_mainloop_new())
    , m_volumeChanged(std::move(volumeChanged))
{
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_set_name(m_mainloop.get(), "pulse-output");
    if (pa_threaded_mainloop_start(m_mainloop.get()) < 0)
        m_mainloop.reset();
}

PulseOutput::~PulseOutput()
{
    if (!m_mainloop)
        return;
    stop();
    const Lock lock(m_mainloop.get());
    m_context.reset();
    // The mainloop's thread ends before it goes, when the members do.
}

void PulseOutput::connect()
{
    if (!m_mainloop)
        return;
    const Lock lock(m_mainloop.get());
    if (contextBroken())
        makeContext();
}

bool PulseOutput::refused()
{
    if (!m_mainloop)
        return true;
    const Lock lock(m_mainloop.get());
    return contextBroken();
}

// With the lock.
bool PulseOutput::contextBroken() const
{
    return !m_context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context.get()));
}

// With the lock.
bool PulseOutput::streamReady() const
{
    return m_stream && pa_stream_get_state(m_stream.get()) == PA_STREAM_READY;
}

// With the lock.
void PulseOutput::makeContext()
{
    dropStream();
    m_context.reset();
    const Proplist properties;
    m_context.reset(pa_context_new_with_proplist(
        pa_threaded_mainloop_get_api(m_mainloop.get()), "Quavrel", properties.list));
    if (!m_context) {
        m_error = "cannot create a PulseAudio context";
        return;
    }
    pa_context_set_state_callback(m_context.get(), &PulseOutput::onContextState, this);
    // A jukebox never starts a sound server of its own.
    if (pa_context_connect(m_context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        m_error = pa_strerror(pa_context_errno(m_context.get()));
}

void PulseOutput::start(Render render)
{
    if (!m_mainloop)
        return;
    const Lock lock(m_mainloop.get());
    dropStream();
    m_wanted = true;
    m_paused = false;
    m_render = std::move(render);
    m_earlierFrames = 0;
    m_lastAskedMs = nowMs();
    watchVolume();
    if (m_context && pa_context_get_state(m_context.get()) == PA_CONTEXT_READY)
        makeStream();
    else if (contextBroken())
        makeContext();
}

void PulseOutput::stop()
{
    if (!m_mainloop)
        return;
    const Lock lock(m_mainloop.get());
    m_wanted = false;
    watchVolume();
    dropStream();
    if (m_retry) {
        pa_threaded_mainloop_get_api(m_mainloop.get())->time_free(m_retry);
        m_retry = nullptr;
    }
    m_render = {};
}

void PulseOutput::setPaused(bool paused)
{
    if (!m_mainloop)
        return;
    const Lock lock(m_mainloop.get());
    if (m_paused == paused)
        return;
    m_paused = paused;
    m_lastAskedMs = nowMs();
    if (streamReady())
        forget(pa_stream_cork(m_stream.get(), paused, nullptr, nullptr));
}

std::int64_t PulseOutput::flush()
{
    if (!m_mainloop)
        return 0;
    const Lock lock(m_mainloop.get());
    pa_usec_t played = 0;
    if (!streamReady() || pa_stream_get_time(m_stream.get(), &played) < 0)
        return 0;
    forget(pa_stream_flush(m_stream.get(), nullptr, nullptr));
    // The stream goes on from what it has played.
    const auto heard
        = std::min(std::int64_t(played * SampleRate / PA_USEC_PER_SEC), m_streamFrames);
    return m_streamFrames - std::exchange(m_streamFrames, heard);
}

void PulseOutput::setVolume(double volume)
{
    if (!m_mainloop)
        return;
    const Lock lock(m_mainloop.get());
    m_volume
        = std::max<std::uint32_t>(1, pa_volume_t(std::clamp(volume, 0.0, 1.0) * PA_VOLUME_NORM));
    if (!streamReady())
        return;
    pa_cvolume volumes {};
    pa_cvolume_set(&volumes, 2, m_volume);
    forget(pa_context_set_sink_input_volume(
        m_context.get(), pa_stream_get_index(m_stream.get()), &volumes, nullptr, nullptr));
}

double PulseOutput::volume()
{
    if (!m_mainloop)
        return 1.0;
    const Lock lock(m_mainloop.get());
    return m_volume ? double(m_volume) / PA_VOLUME_NORM : 1.0;
}

// With the lock: while a stream is wanted, the server tells of changes to streams, so that the
// mixer's changes to this one's volume are seen; otherwise it tells nothing, and nothing wakes.
void PulseOutput::watchVolume()
{
    if (!m_context || pa_context_get_state(m_context.get()) != PA_CONTEXT_READY)
        return;
    pa_context_set_subscribe_callback(m_context.get(), &PulseOutput::onSubscription, this);
    const auto mask = m_wanted ? PA_SUBSCRIPTION_MASK_SINK_INPUT : PA_SUBSCRIPTION_MASK_NULL;
    forget(pa_context_subscribe(m_context.get(), mask, nullptr, nullptr));
}

// With the lock: asks the server for the stream's volume, as the mixer may have set it.
void PulseOutput::readVolume()
{
    forget(pa_context_get_sink_input_info(
        m_context.get(), pa_stream_get_index(m_stream.get()), &PulseOutput::onSinkInput, this));
}

void PulseOutput::onSubscription(
    pa_context *, pa_subscription_event_type_t type, std::uint32_t index, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK_INPUT
        && (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE
        && output->streamReady() && pa_stream_get_index(output->m_stream.get()) == index)
        output->readVolume();
}

void PulseOutput::onSinkInput(pa_context *, const pa_sink_input_info *info, int, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    if (!info || pa_cvolume_avg(&info->volume) == output->m_volume)
        return;
    output->m_volume = pa_cvolume_avg(&info->volume);
    if (output->m_volumeChanged)
        output->m_volumeChanged();
}

std::int64_t PulseOutput::playedFrames()
{
    if (!m_mainloop)
        return 0;
    // Called from the render function, the mainloop's thread holds the lock already.
    if (pa_threaded_mainloop_in_thread(m_mainloop.get()))
        return playedLocked();
    const Lock lock(m_mainloop.get());
    return playedLocked();
}

std::int64_t PulseOutput::playedLocked()
{
    if (!m_stream)
        return m_earlierFrames;
    // A broken stream plays nothing more: what it was given counts as played.
    const pa_stream_state_t state = pa_stream_get_state(m_stream.get());
    if (!PA_STREAM_IS_GOOD(state))
        return m_earlierFrames + m_streamFrames;
    pa_usec_t played = 0;
    if (state != PA_STREAM_READY || pa_stream_get_time(m_stream.get(), &played) < 0)
        played = 0;
    const auto frames = std::int64_t(played * SampleRate / PA_USEC_PER_SEC);
    return m_earlierFrames + std::min(frames, m_streamFrames);
}

std::int64_t PulseOutput::silentMs()
{
    if (!m_mainloop)
        return 0;
    const Lock lock(m_mainloop.get());
    return m_wanted && !m_paused ? nowMs() - m_lastAskedMs : 0;
}

std::string PulseOutput::lastError()
{
    if (!m_mainloop)
        return "cannot start a PulseAudio mainloop";
    const Lock lock(m_mainloop.get());
    return m_error;
}

// With the lock: a stream on the connected server, corked when paused.
void PulseOutput::makeStream()
{
    const pa_sample_spec format { PA_SAMPLE_FLOAT32NE, SampleRate, 2 };
    const Proplist properties;
    m_stream.reset(
        pa_stream_new_with_proplist(m_context.get(), "Quavrel", &format, nullptr, properties.list));
    if (!m_stream) {
        m_error = pa_strerror(pa_context_errno(m_context.get()));
        scheduleRetry();
        return;
    }
    m_streamFrames = 0;
    m_written = false;
    pa_stream_set_state_callback(m_stream.get(), &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(m_stream.get(), &PulseOutput::onWrite, this);
    pa_buffer_attr attributes {};
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = bytesFor(QueuedMs);
    attributes.prebuf = bytesFor(StartMs);
    attributes.minreq = bytesFor(RequestMs);
    attributes.fragsize = std::uint32_t(-1);
    auto flags = pa_stream_flags_t(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (m_paused)
        flags = pa_stream_flags_t(flags | PA_STREAM_START_CORKED);
    // A volume set earlier goes on; otherwise the server's is read once the stream is there.
    pa_cvolume volumes {};
    pa_cvolume_set(&volumes, 2, m_volume);
    if (pa_stream_connect_playback(
            m_stream.get(), nullptr, &attributes, flags, m_volume ? &volumes : nullptr, nullptr)
        < 0) {
        m_error = pa_strerror(pa_context_errno(m_context.get()));
        dropStream();
        scheduleRetry();
    }
}

// With the lock: the stream goes, and what it was given counts as played.
void PulseOutput::dropStream()
{
    if (m_refill) {
        pa_threaded_mainloop_get_api(m_mainloop.get())->time_free(m_refill);
        m_refill = nullptr;
    }
    m_stream.reset();
    m_earlierFrames += m_streamFrames;
    m_streamFrames = 0;
}

// With the lock.
void PulseOutput::scheduleRetry()
{
    if (m_retry || !m_wanted)
        return;
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(m_mainloop.get());
    timeval when {};
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(RetryMs) * PA_USEC_PER_MSEC);
    m_retry = api->time_new(api, &when, &PulseOutput::onRetry, this);
}

void PulseOutput::onRetry(pa_mainloop_api *api, pa_time_event *event, const timeval *, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    api->time_free(event);
    output->m_retry = nullptr;
    if (!output->m_wanted)
        return;
    if (output->contextBroken()) {
        output->makeContext();
    } else if (pa_context_get_state(output->m_context.get()) == PA_CONTEXT_READY
        && (!output->m_stream || !PA_STREAM_IS_GOOD(pa_stream_get_state(output->m_stream.get())))) {
        output->dropStream();
        output->makeStream();
    }
}

void PulseOutput::onContextState(pa_context *context, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        output->m_reached = true;
        output->watchVolume();
        if (output->m_wanted && !output->m_stream)
            output->makeStream();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        output->m_error = pa_strerror(pa_context_errno(context));
        // The context and its stream go at the next attempt, not inside their own callbacks.
        output->scheduleRetry();
        break;
    default:
        break;
    }
}

void PulseOutput::onStreamState(pa_stream *stream, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    if (pa_stream_get_state(stream) == PA_STREAM_READY)
        output->readVolume();
    if (pa_stream_get_state(stream) != PA_STREAM_FAILED)
        return;
    output->m_error = pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
    // Made again on the next attempt, once the server answers.
    output->scheduleRetry();
}

void PulseOutput::onWrite(pa_stream *, std::size_t bytes, void *data)
{
    auto *output = static_cast<PulseOutput *>(data);
    output->m_lastAskedMs = nowMs();
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
    while (bytes >= FrameBytes && bytes != std::size_t(-1)) {
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
        m_streamFrames += std::int64_t(size / FrameBytes);
        bytes -= size;
    }
}
