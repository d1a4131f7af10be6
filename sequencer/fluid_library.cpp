// libfluidsynth and the forty libraries it needs are loaded when the synthesizer is first made,
// not when the program starts: the window shows sooner and the loading happens on the thread that
// prepares the synthesizer. Each FluidSynth function Quavrel calls is defined here and forwards to
// the library's own, looked up once. A function missing here shows as a link error.

#include "sequencer/fluid.h"

#include <fluidsynth.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

namespace {

struct Library
{
    void *handle = nullptr;
    std::string error;
};

const Library &library()
{
    // Global, so that the sound libraries it brings (ALSA, JACK) can be found by name too.
    static const Library loaded = [] {
        Library library;
        library.handle = ::dlopen("libfluidsynth.so.3", RTLD_NOW | RTLD_GLOBAL);
        if (!library.handle)
            library.error = ::dlerror();
        return library;
    }();
    return loaded;
}

// Only reached once FluidLibrary::load() has succeeded.
void *symbol(const char *name)
{
    void *found = library().handle ? ::dlsym(library().handle, name) : nullptr;
    if (!found) {
        std::fprintf(stderr, "Quavrel: FluidSynth has no %s\n", name);
        std::abort();
    }
    return found;
}

} // namespace

bool FluidLibrary::load(std::string &error)
{
    error = library().error;
    return library().handle != nullptr;
}

#define FORWARD(Result, name, Parameters, Arguments)                                               \
    extern "C" Result name Parameters                                                              \
    {                                                                                              \
        using Function = Result(*) Parameters;                                                     \
        static const auto real = reinterpret_cast<Function>(symbol(#name));                        \
        return real Arguments;                                                                     \
    }

FORWARD(fluid_settings_t *, new_fluid_settings, (void), ())
FORWARD(void, delete_fluid_settings, (fluid_settings_t * settings), (settings))
FORWARD(int, fluid_settings_setint, (fluid_settings_t * settings, const char *name, int value),
    (settings, name, value))
FORWARD(int, fluid_settings_setnum, (fluid_settings_t * settings, const char *name, double value),
    (settings, name, value))
FORWARD(int, fluid_settings_setstr,
    (fluid_settings_t * settings, const char *name, const char *value), (settings, name, value))
FORWARD(void, fluid_settings_foreach_option,
    (fluid_settings_t * settings, const char *name, void *data,
        fluid_settings_foreach_option_t function),
    (settings, name, data, function))
FORWARD(fluid_log_function_t, fluid_set_log_function,
    (int level, fluid_log_function_t function, void *data), (level, function, data))

FORWARD(fluid_synth_t *, new_fluid_synth, (fluid_settings_t * settings), (settings))
FORWARD(void, delete_fluid_synth, (fluid_synth_t * synth), (synth))
FORWARD(int, fluid_synth_sfload, (fluid_synth_t * synth, const char *file, int reset),
    (synth, file, reset))
FORWARD(void, fluid_synth_add_sfloader, (fluid_synth_t * synth, fluid_sfloader_t *loader),
    (synth, loader))
FORWARD(int, fluid_synth_add_sfont, (fluid_synth_t * synth, fluid_sfont_t *sfont), (synth, sfont))
FORWARD(
    int, fluid_synth_remove_sfont, (fluid_synth_t * synth, fluid_sfont_t *sfont), (synth, sfont))
FORWARD(fluid_sfont_t *, fluid_synth_get_sfont, (fluid_synth_t * synth, unsigned int number),
    (synth, number))
FORWARD(fluid_sfont_t *, fluid_synth_get_sfont_by_id, (fluid_synth_t * synth, int id), (synth, id))
FORWARD(int, fluid_synth_sfunload, (fluid_synth_t * synth, int id, int reset), (synth, id, reset))
FORWARD(int, fluid_synth_program_reset, (fluid_synth_t * synth), (synth))
FORWARD(int, fluid_synth_program_select,
    (fluid_synth_t * synth, int channel, int sfont, int bank, int program),
    (synth, channel, sfont, bank, program))
FORWARD(int, fluid_synth_unset_program, (fluid_synth_t * synth, int channel), (synth, channel))
FORWARD(int, fluid_synth_get_program,
    (fluid_synth_t * synth, int channel, int *sfont, int *bank, int *program),
    (synth, channel, sfont, bank, program))
FORWARD(fluid_preset_t *, fluid_synth_get_channel_preset, (fluid_synth_t * synth, int channel),
    (synth, channel))
FORWARD(int, fluid_synth_all_sounds_off, (fluid_synth_t * synth, int channel), (synth, channel))
FORWARD(int, fluid_synth_system_reset, (fluid_synth_t * synth), (synth))
FORWARD(void, fluid_synth_set_gain, (fluid_synth_t * synth, float gain), (synth, gain))
FORWARD(int, fluid_synth_write_float,
    (fluid_synth_t * synth, int frames, void *left, int leftOffset, int leftStep, void *right,
        int rightOffset, int rightStep),
    (synth, frames, left, leftOffset, leftStep, right, rightOffset, rightStep))

FORWARD(fluid_sfloader_t *, new_fluid_defsfloader, (fluid_settings_t * settings), (settings))
FORWARD(int, fluid_sfloader_set_callbacks,
    (fluid_sfloader_t * loader, fluid_sfloader_callback_open_t open,
        fluid_sfloader_callback_read_t read, fluid_sfloader_callback_seek_t seek,
        fluid_sfloader_callback_tell_t tell, fluid_sfloader_callback_close_t close),
    (loader, open, read, seek, tell, close))
FORWARD(int, fluid_sfont_get_id, (fluid_sfont_t * sfont), (sfont))
FORWARD(fluid_preset_t *, fluid_sfont_get_preset, (fluid_sfont_t * sfont, int bank, int program),
    (sfont, bank, program))
FORWARD(int, fluid_preset_get_banknum, (fluid_preset_t * preset), (preset))
FORWARD(int, fluid_preset_get_num, (fluid_preset_t * preset), (preset))

FORWARD(fluid_player_t *, new_fluid_player, (fluid_synth_t * synth), (synth))
FORWARD(void, delete_fluid_player, (fluid_player_t * player), (player))
FORWARD(int, fluid_player_add_mem, (fluid_player_t * player, const void *buffer, size_t length),
    (player, buffer, length))
FORWARD(int, fluid_player_play, (fluid_player_t * player), (player))
FORWARD(int, fluid_player_seek, (fluid_player_t * player, int ticks), (player, ticks))
FORWARD(int, fluid_player_get_status, (fluid_player_t * player), (player))
FORWARD(int, fluid_player_set_tick_callback,
    (fluid_player_t * player, handle_midi_tick_func_t callback, void *data),
    (player, callback, data))

FORWARD(fluid_audio_driver_t *, new_fluid_audio_driver2,
    (fluid_settings_t * settings, fluid_audio_func_t function, void *data),
    (settings, function, data))
FORWARD(void, delete_fluid_audio_driver, (fluid_audio_driver_t * driver), (driver))
