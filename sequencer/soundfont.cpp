#include "sequencer/soundfont.h"

#include "sequencer/fluid.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <fluidsynth.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const EnvironmentName = "QUAVREL_SOUNDFONT";

// Where Debian, Fedora and Arch put their General MIDI SoundFonts.
constexpr const char *SystemPaths[]
    = { "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
          "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/default.sf2",
          "/usr/share/soundfonts/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2" };

// Opens a regular file for reading; anything else is refused without waiting for a writer.
int openRegular(const char *path, struct stat &info)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

std::atomic<std::uint64_t> &bytesCounter()
{
    static std::atomic<std::uint64_t> bytes { 0 };
    return bytes;
}

// FluidSynth's SoundFont loader reads through these, so that every byte read is counted and no
// open can block.
void *openFile(const char *path)
{
    struct stat info
    { };
    const int fd = openRegular(path, info);
    FILE *file = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (fd >= 0 && !file)
        ::close(fd);
    return file;
}

int readFile(void *buffer, fluid_long_long_t count, void *handle)
{
    if (count < 0)
        return FLUID_FAILED;
    if (count == 0)
        return FLUID_OK;
    if (std::fread(buffer, std::size_t(count), 1, static_cast<FILE *>(handle)) != 1)
        return FLUID_FAILED;
    bytesCounter().fetch_add(std::uint64_t(count), std::memory_order_relaxed);
    return FLUID_OK;
}

int seekFile(void *handle, fluid_long_long_t offset, int origin)
{
    return ::fseeko(static_cast<FILE *>(handle), off_t(offset), origin) == 0 ? FLUID_OK
                                                                             : FLUID_FAILED;
}

fluid_long_long_t tellFile(void *handle)
{
    return ::ftello(static_cast<FILE *>(handle));
}

int closeFile(void *handle)
{
    return std::fclose(static_cast<FILE *>(handle)) == 0 ? FLUID_OK : FLUID_FAILED;
}

} // namespace

QStringList SoundFont::candidates(const QString &chosen)
{
    QStringList paths;
    const QString named = qEnvironmentVariable(EnvironmentName);
    for (const QString &path : { named, chosen }) {
        if (!path.isEmpty())
            paths.append(path);
    }
    for (const char *path : SystemPaths)
        paths.append(QString::fromLatin1(path));
    paths.removeDuplicates();
    return paths;
}

QString SoundFont::problem(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info
    { };
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QStringLiteral("there is no such file");
        return QStringLiteral("it cannot be read (%1)")
            .arg(QString::fromLocal8Bit(strerror(errno)));
    }
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a regular file");
    const int fd = openRegular(name.constData(), info);
    if (fd < 0)
        return QStringLiteral("it cannot be read (%1)")
            .arg(QString::fromLocal8Bit(strerror(errno)));
    // A SoundFont is a RIFF file of form "sfbk" (.sf3 too): "RIFF", the length of what follows,
    // "sfbk".
    char header[12] {};
    const ssize_t count = ::read(fd, header, sizeof header);
    ::close(fd);
    if (count != sizeof header || std::memcmp(header, "RIFF", 4) != 0
        || std::memcmp(header + 8, "sfbk", 4) != 0)
        return QStringLiteral("it is not a SoundFont");
    const qint64 announced = qint64(qFromLittleEndian<quint32>(header + 4)) + 8;
    if (announced > info.st_size) {
        return QStringLiteral("it is incomplete, %1 of the %2 bytes that its header announces")
            .arg(info.st_size)
            .arg(announced);
    }
    return {};
}

QString SoundFont::firstUsable(const QString &chosen)
{
    const QStringList paths = candidates(chosen);
    for (const QString &path : paths) {
        if (problem(path).isEmpty())
            return path;
    }
    return {};
}

void SoundFont::countReads(fluid_synth_t *synth, fluid_settings_t *settings)
{
    // Tried before the synthesizer's own loader: the same loader, reading through counted calls.
    if (fluid_sfloader_t *loader = new_fluid_defsfloader(settings)) {
        fluid_sfloader_set_callbacks(loader, openFile, readFile, seekFile, tellFile, closeFile);
        fluid_synth_add_sfloader(synth, loader);
    }
}

int SoundFont::read(fluid_synth_t *synth, const QString &path, QString &why)
{
    why = problem(path);
    if (!why.isEmpty())
        return -1;
    // What FluidSynth logs first is the cause; it ends with a general "Failed to load".
    FluidLog::clear();
    const int id = fluid_synth_sfload(synth, QFile::encodeName(path).constData(), 0);
    if (id != FLUID_FAILED)
        return id;
    why = QStringLiteral("FluidSynth cannot read it (%1)")
              .arg(QString::fromStdString(FluidLog::firstError()));
    return -1;
}

SoundFont::Loaded SoundFont::load(
    fluid_synth_t *synth, fluid_settings_t *settings, const QString &chosen)
{
    countReads(synth, settings);
    const QString named = qEnvironmentVariable(EnvironmentName);
    Loaded loaded;
    // Those of QUAVREL_SOUNDFONT and the chosen one that failed, and the failures of the others.
    QStringList asked;
    QStringList failures;
    const QStringList paths = candidates(chosen);
    for (const QString &path : paths) {
        // A system SoundFont that is not there is simply not installed.
        const bool wanted = path == named || path == chosen;
        if (!wanted && !QFileInfo::exists(path))
            continue;
        QString why;
        loaded.id = read(synth, path, why);
        if (loaded.id >= 0) {
            loaded.path = path;
            break;
        }
        const QString by = path == named ? QStringLiteral(" named by QUAVREL_SOUNDFONT")
            : path == chosen             ? QStringLiteral(" you chose")
                                         : QString();
        (wanted ? asked : failures)
            .append(QStringLiteral("The SoundFont %1%2 cannot be used: %3.").arg(path, by, why));
    }
    // The channels take their instruments once the SoundFont is in place.
    if (loaded.id >= 0)
        fluid_synth_program_reset(synth);

    const QString mend = QStringLiteral(
        "To choose a SoundFont, use the SoundFont item of the song list's menu (a right click on "
        "the list), or set QUAVREL_SOUNDFONT to a complete .sf2 or .sf3 file; the system's comes "
        "with a package such as fluid-soundfont-gm.");
    if (loaded.id < 0) {
        failures = asked + failures;
        loaded.message = QStringLiteral("No SoundFont could be loaded, so songs cannot be heard.\n")
            + (failures.isEmpty() ? QStringLiteral("None is installed.") : failures.join(u'\n'))
            + u'\n' + mend;
    } else if (!asked.isEmpty()) {
        loaded.message = asked.join(u'\n')
            + QStringLiteral("\nSongs play with %1 instead.\n").arg(loaded.path) + mend;
    }
    return loaded;
}

std::uint64_t SoundFont::bytesRead()
{
    return bytesCounter().load(std::memory_order_relaxed);
}
