#include "app/command_line.h"

#include "platform/file_names.h"

#include <QDir>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr char Usage[] = R"(Usage: quavrel [OPTION] [FILE.mid]...
Plays the MIDI files given, after the album that opens at start-up. When Quavrel already
runs, it takes the files, and this start ends.

  --help     show this help and exit
  --version  show the name and version and exit
  --         take every argument after it as a file

Environment:
  QUAVREL_SOUNDFONT     the SoundFont to play with
  QUAVREL_AUDIO_DRIVER  a FluidSynth audio driver instead of Quavrel's own PulseAudio output:
                        pulseaudio, alsa, jack, oss, or file (writes fluidsynth.wav)
)";

} // namespace

CommandLine::CommandLine(int argc, char **argv)
    : m_argv(argv)
    , m_qtCount(argc)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            m_qtCount = i;
            m_afterDashes.assign(argv + i + 1, argv + argc);
            break;
        }
    }
}

bool CommandLine::answered() const
{
    for (int i = 1; i < m_qtCount; ++i) {
        const bool help = std::strcmp(m_argv[i], "--help") == 0;
        if (help || std::strcmp(m_argv[i], "--version") == 0) {
            std::fputs(help ? Usage : "Quavrel " QUAVREL_VERSION "\n", stdout);
            return true;
        }
    }
    return false;
}

QStringList CommandLine::files() const
{
    std::error_code error;
    const std::string folder = std::filesystem::current_path(error).native();
    QStringList paths;
    const auto add = [&](const char *argument) {
        const QString name = FileNames::decode(argument);
        if (!name.isEmpty()) {
            paths.append(QDir::cleanPath(
                name.startsWith(u'/') ? name : FileNames::decode(folder) + u'/' + name));
        }
    };
    for (int i = 1; i < m_qtCount; ++i)
        add(m_argv[i]);
    for (const char *argument : m_afterDashes)
        add(argument);
    return paths;
}
