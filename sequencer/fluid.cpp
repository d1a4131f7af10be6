#include "sequencer/fluid.h"

#include <fluidsynth.h>

#include <mutex>

void FluidDeleter::operator()(_fluid_hashtable_t *settings) const
{
    delete_fluid_settings(settings);
}

void FluidDeleter::operator()(_fluid_synth_t *synth) const
{
    delete_fluid_synth(synth);
}

void FluidDeleter::operator()(_fluid_player_t *player) const
{
    delete_fluid_player(player);
}

void FluidDeleter::operator()(_fluid_audio_driver_t *driver) const
{
    delete_fluid_audio_driver(driver);
}

FluidPtr<_fluid_synth_t> newFluidSynth(_fluid_hashtable_t *settings)
{
    static std::mutex making;
    const std::lock_guard lock(making);
    return FluidPtr<_fluid_synth_t>(new_fluid_synth(settings));
}

namespace {

struct Log
{
    std::once_flag installed;
    std::mutex mutex;
    std::string firstError;
    std::string lastError;
};

Log &log()
{
    static Log log;
    return log;
}

void keep(int level, const char *message, void *)
{
    if (level > FLUID_ERR || !message)
        return;
    const std::lock_guard lock(log().mutex);
    if (log().lastError.empty())
        log().firstError = message;
    log().lastError = message;
}

} // namespace

void FluidLog::capture()
{
    std::call_once(log().installed, [] {
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level)
            fluid_set_log_function(level, keep, nullptr);
    });
}

std::string FluidLog::lastError()
{
    const std::lock_guard lock(log().mutex);
    return log().lastError;
}

std::string FluidLog::firstError()
{
    const std::lock_guard lock(log().mutex);
    return log().firstError;
}

void FluidLog::clear()
{
    const std::lock_guard lock(log().mutex);
    log().firstError.clear();
    log().lastError.clear();
}
