#include "sequencer/driver_output.h"

#include <QtEndian>

#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <dlfcn.h>
#include <vector>

namespace {

constexpr int SampleRate = 44100;
// Frames the file output writes at a time, as FluidSynth's own file driver does.
constexpr int FilePeriod = 1024;
constexpr int WavHeaderBytes = 44;

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

// A canonical WAV header for 16-bit stereo at 44100 Hz with dataBytes of samples.
QByteArray wavHeader(quint32 dataBytes)
{
    QByteArray header(WavHeaderBytes, '\0');
    auto *at = reinterpret_cast<uchar *>(header.data());
    const auto put = [&at](const char *tag, quint32 value) {
        std::copy_n(tag, 4, at);
        qToLittleEndian<quint32>(value, at + 4);
        at += 8;
    };
    put("RIFF", dataBytes + WavHeaderBytes - 8);
    std::copy_n("WAVE", 4, at);
    at += 4;
    put("fmt ", 16);
    qToLittleEndian<quint16>(1, at); // PCM
    qToLittleEndian<quint16>(2, at + 2);
    qToLittleEndian<quint32>(SampleRate, at + 4);
    qToLittleEndian<quint32>(SampleRate * 4, at + 8);
    qToLittleEndian<quint16>(4, at + 12);
    qToLittleEndian<quint16>(16, at + 14);
    at += 16;
    put("data", dataBytes);
    return header;
}

} // namespace

DriverOutput::DriverOutput(const QString &name, fluid_settings_t *settings, Render render)
    : m_name(name)
    , m_settings(settings)
    , m_render(std::move(render))
{ }

std::unique_ptr<DriverOutput> DriverOutput::open(
    const QString &name, fluid_settings_t *settings, Render render, QString &error)
{
    std::unique_ptr<DriverOutput> output(new DriverOutput(name, settings, std::move(render)));
    if (name == QLatin1StringView("file")) {
        output->m_file.setFileName(QStringLiteral("fluidsynth.wav"));
        if (!output->m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || output->m_file.write(wavHeader(0)) != WavHeaderBytes) {
            error = output->m_file.errorString();
            return nullptr;
        }
    } else if (fluid_settings_setstr(settings, "audio.driver", name.toUtf8().constData())
        != FLUID_OK) {
        error = QStringLiteral("FluidSynth has no audio driver %1").arg(name);
        return nullptr;
    }
    if (!output->run(error))
        return nullptr;
    return output;
}

DriverOutput::~DriverOutput()
{
    halt();
    if (m_file.isOpen()) {
        // The sizes in the header, now that they are known.
        const qint64 data = m_file.size() - WavHeaderBytes;
        if (m_file.seek(0))
            m_file.write(wavHeader(quint32(std::min<qint64>(data, 0xFFFFFFF0))));
    }
}

bool DriverOutput::setPaused(bool paused, QString &error)
{
    if (paused) {
        halt();
        return true;
    }
    return m_driver || m_running ? true : run(error);
}

bool DriverOutput::run(QString &error)
{
    if (m_file.isOpen()) {
        m_running = true;
        m_writer = std::thread([this] { writeFile(); });
        return true;
    }
    quietAudioLibraries();
    FluidLog::clear();
    m_driver.reset(new_fluid_audio_driver2(m_settings, &DriverOutput::onDriver, this));
    if (m_driver)
        return true;
    const std::string why = FluidLog::lastError();
    error = why.empty() ? QStringLiteral("it could not be opened") : QString::fromStdString(why);
    return false;
}

// No render call runs once this returns.
void DriverOutput::halt()
{
    m_driver.reset();
    m_running = false;
    if (m_writer.joinable())
        m_writer.join();
}

int DriverOutput::onDriver(void *data, int frames, int, float *[], int outputs, float *out[])
{
    if (outputs >= 2)
        static_cast<DriverOutput *>(data)->m_render(out[0], out[1], 1, frames);
    return FLUID_OK;
}

// Writes a period at a time, each when its time has come, so that the file fills as fast as a
// sound card would play it.
void DriverOutput::writeFile()
{
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(std::int64_t(FilePeriod) * 1000000 / SampleRate);
    std::vector<float> samples(2 * FilePeriod);
    std::vector<qint16> pcm(2 * FilePeriod);
    for (auto due = Clock::now(); m_running; due += period) {
        m_render(samples.data(), samples.data() + 1, 2, FilePeriod);
        for (std::size_t i = 0; i < samples.size(); ++i)
            pcm[i] = qToLittleEndian(
                qint16(std::lrint(std::clamp(samples[i], -1.0f, 32767.0f / 32768) * 32768)));
        const auto bytes = qint64(pcm.size() * sizeof(qint16));
        if (m_file.write(reinterpret_cast<const char *>(pcm.data()), bytes) != bytes
            || !m_file.flush())
            return;
        std::this_thread::sleep_until(due + period);
    }
}
