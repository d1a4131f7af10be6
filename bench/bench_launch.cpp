// Starts a program and times it from outside: to its window being mapped (a MapNotify event on
// the root window, for a top-level window with the given title), and to the first sample louder
// than a threshold at a PulseAudio source (the null sink's monitor). Optionally presses a key in
// the window (XTest) once it is drawn, as a user would press Play.
//
//   bench_launch [--title TEXT] [--key alt+p] [--delay MS] [--source NAME] [--timeout MS]
//                [--trace] -- PROGRAM ARGS...
//
// --title names text in the window's title; --delay waits that long more before the key. Prints
// "mapped_ms key_ms sound_ms pid", each time from the start of the program (-1 for what was not
// asked for or did not happen), and leaves the program running, its output sent to /dev/null:
// the caller ends it. --trace also prints the moments on the monotonic clock to stderr
// ("T ms what"), to line them up with the program's own.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/keysym.h>
#include <pulse/simple.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int Threshold = 64;
// The window counts as fully drawn when it has not changed for this long.
constexpr double QuietMs = 10;

double nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Records the source and notes when the first loud frame was heard.
class SoundWatch
{
public:
    explicit SoundWatch(const char *source)
    {
        const pa_sample_spec format { PA_SAMPLE_S16LE, Rate, 2 };
        pa_buffer_attr attr {};
        attr.maxlength = std::uint32_t(-1);
        attr.fragsize = 128 * 4; // about 3 ms
        m_stream = pa_simple_new(nullptr, "bench_launch", PA_STREAM_RECORD, source, "first sound",
            &format, nullptr, &attr, nullptr);
    }
    ~SoundWatch()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_stream)
            pa_simple_free(m_stream);
    }
    bool valid() const { return m_stream; }

    // Reads until the recording has run quietly for a while, then watches on a thread. False
    // when the source is not silent to begin with.
    bool start()
    {
        std::vector<std::int16_t> block(128 * 2);
        for (int i = 0; i < 60; ++i) {
            if (pa_simple_read(m_stream, block.data(), block.size() * 2, nullptr) < 0)
                return false;
            for (const std::int16_t sample : block) {
                if (std::abs(sample) > Threshold)
                    return false;
            }
        }
        m_thread = std::thread([this] { watch(); });
        return true;
    }
    double heardAt() const { return m_heard.load(); }

private:
    void watch()
    {
        std::vector<std::int16_t> block(128 * 2);
        while (!m_stop && m_heard.load() < 0) {
            if (pa_simple_read(m_stream, block.data(), block.size() * 2, nullptr) < 0)
                return;
            // The frames reached the monitor when the sink rendered them, a fragment ago at most.
            const double arrived = nowMs();
            for (std::size_t i = 0; i < block.size(); ++i) {
                if (std::abs(block[i]) > Threshold) {
                    const double framesAfter = double(block.size() - i) / 2;
                    m_heard = arrived - framesAfter * 1e3 / Rate;
                    return;
                }
            }
        }
    }

    pa_simple *m_stream = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<double> m_heard { -1 };
};

// The window's title contains the given text (players show the song in it).
bool titleHas(Display *display, Window window, const std::string &title)
{
    char *name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return false;
    const bool has = std::string(name).find(title) != std::string::npos;
    XFree(name);
    return has;
}

// Presses a key such as "alt+p" in the window: focus it, then the modifier and the key.
void pressKey(Display *display, Window window, const std::string &key)
{
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    std::vector<KeyCode> codes;
    std::size_t from = 0;
    while (from <= key.size()) {
        const std::size_t plus = key.find('+', from);
        std::string part
            = key.substr(from, plus == std::string::npos ? std::string::npos : plus - from);
        if (part == "alt")
            part = "Alt_L";
        codes.push_back(XKeysymToKeycode(display, XStringToKeysym(part.c_str())));
        if (plus == std::string::npos)
            break;
        from = plus + 1;
    }
    for (const KeyCode code : codes)
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto code = codes.rbegin(); code != codes.rend(); ++code)
        XTestFakeKeyEvent(display, *code, False, CurrentTime);
    XFlush(display);
}

} // namespace

int main(int argc, char *argv[])
{
    std::string title;
    std::string key;
    const char *source = nullptr;
    double timeout = 10000;
    double delay = 0;
    bool trace = false;
    int at = 1;
    for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
        if (!std::strcmp(argv[at], "--trace")) {
            trace = true;
            continue;
        }
        if (at + 1 >= argc)
            break;
        if (!std::strcmp(argv[at], "--delay"))
            delay = std::atof(argv[++at]);
        else if (!std::strcmp(argv[at], "--title"))
            title = argv[++at];
        else if (!std::strcmp(argv[at], "--key"))
            key = argv[++at];
        else if (!std::strcmp(argv[at], "--source"))
            source = argv[++at];
        else if (!std::strcmp(argv[at], "--timeout"))
            timeout = std::atof(argv[++at]);
    }
    if (at + 1 >= argc) {
        std::fprintf(stderr,
            "usage: bench_launch [--title T] [--key K] [--source S] [--timeout MS] -- "
            "PROGRAM...\n");
        return 2;
    }
    char **command = argv + at + 1;

    Display *display = title.empty() ? nullptr : XOpenDisplay(nullptr);
    if (!title.empty() && !display) {
        std::fprintf(stderr, "bench_launch: no X display\n");
        return 1;
    }
    if (display) {
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
        XSync(display, False);
    }
    std::optional<SoundWatch> sound;
    if (source)
        sound.emplace(source);
    if (sound && (!sound->valid() || !sound->start())) {
        std::fprintf(stderr, "bench_launch: cannot record %s, or it is not silent\n", source);
        return 1;
    }

    const double start = nowMs();
    if (trace)
        std::fprintf(stderr, "T %.2f spawn\n", start);
    const pid_t pid = fork();
    if (pid == 0) {
        // The program's output must not hold the caller's pipe open.
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(command[0], command);
        _exit(127);
    }
    double mapped = -1;
    Window window = 0;
    while (display && mapped < 0 && nowMs() - start < timeout) {
        pollfd fd { ConnectionNumber(display), POLLIN, 0 };
        if (!XPending(display) && poll(&fd, 1, 50) <= 0)
            continue;
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify || event.xmap.override_redirect)
            continue;
        const double when = nowMs();
        if (!titleHas(display, event.xmap.window, title))
            continue;
        mapped = when - start;
        window = event.xmap.window;
        if (trace)
            std::fprintf(stderr, "T %.2f mapped\n", when);
    }
    // A program may not act on a key yet when its window maps: Quavrel shows its window, lets
    // window events run and only then reads its start-up album, so a Play pressed at once finds
    // the list empty. The key is pressed once the window has been drawn and then left unchanged
    // for a while, as a user would press it on seeing the full window.
    double pressed = -1;
    if (window && !key.empty()) {
        int eventBase = 0;
        int errorBase = 0;
        if (!XDamageQueryExtension(display, &eventBase, &errorBase)) {
            std::fprintf(stderr, "bench_launch: the X server has no DAMAGE extension\n");
            return 1;
        }
        const Damage damage = XDamageCreate(display, window, XDamageReportNonEmpty);
        // The server's own clearing of the window on mapping is the first change; the program's
        // drawing follows.
        double drawn = -1;
        int changes = 0;
        while (nowMs() - start < timeout) {
            pollfd fd { ConnectionNumber(display), POLLIN, 0 };
            if (XPending(display) || poll(&fd, 1, 1) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == eventBase + XDamageNotify) {
                    XDamageSubtract(display, damage, None, None);
                    drawn = nowMs();
                    ++changes;
                }
                continue;
            }
            if (changes >= 2 && nowMs() - drawn >= QuietMs)
                break;
        }
        XDamageDestroy(display, damage);
        usleep(useconds_t(delay * 1000));
        pressKey(display, window, key);
        pressed = nowMs();
        if (trace)
            std::fprintf(stderr, "T %.2f last drawn\nT %.2f key\n", drawn, pressed);
    }
    double heard = -1;
    while (sound && heard < 0 && nowMs() - start < timeout) {
        heard = sound->heardAt();
        if (heard < 0)
            usleep(2000);
    }
    if (trace && heard >= 0)
        std::fprintf(stderr, "T %.2f sound\n", heard);
    std::printf("%.1f %.1f %.1f %d\n", mapped, pressed < 0 ? -1.0 : pressed - start,
        heard < 0 ? -1.0 : heard - start, int(pid));
    if (display)
        XCloseDisplay(display);
    return 0;
}
