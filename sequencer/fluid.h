#pragma once

#include <memory>
#include <string>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_player_t;
struct _fluid_audio_driver_t;

// libfluidsynth is loaded at its first use, not with the program.
namespace FluidLibrary {
// Loads it, once; false, with the loader's reason, when it cannot be. No other FluidSynth
// function may be called before this has succeeded.
bool load(std::string &error);
} // namespace FluidLibrary

// FluidSynth's objects, each deleted by FluidSynth's own function.
struct FluidDeleter
{
    void operator()(_fluid_hashtable_t *settings) const;
    void operator()(_fluid_synth_t *synth) const;
    void operator()(_fluid_player_t *player) const;
    void operator()(_fluid_audio_driver_t *driver) const;
};
template <typename T> using FluidPtr = std::unique_ptr<T, FluidDeleter>;

// A new synthesizer. FluidSynth fills its global tables while it makes the first one in the
// process, without a lock, so that one made at the same time on another thread could use them
// half filled: synthesizers are made one at a time.
FluidPtr<_fluid_synth_t> newFluidSynth(_fluid_hashtable_t *settings);

// FluidSynth's log is one hook per process, called from any of its threads: its messages are
// kept instead of printed, the last error for the user.
namespace FluidLog {
// Takes the log over; safe to call from any thread, any number of times.
void capture();
// The last error logged since clear().
std::string lastError();
// The first error logged since clear(): the cause, where FluidSynth logs its consequences after it.
std::string firstError();
void clear();
} // namespace FluidLog
