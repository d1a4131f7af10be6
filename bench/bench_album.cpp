// Load and Save of a full album (32767 songs with long paths, about 2.5 MB) through the real
// window, shown offscreen, with scripted dialogs. Targets: Load under 150 ms, Save under 50 ms.
// Then Load of albums at the edge of what it reads or refuses (the largest it reads: 32767 lines
// of 4096 bytes, 134 MB; as large, but blank; one line of 20 MB): the window must not stall for
// a second on any.

#include "app/main_window.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Runs = 15;

struct Figures
{
    double best;
    double median;
    double worst;
};

template <typename Prepare, typename Step>
Figures measure(Prepare prepare, Step step, int runs = Runs)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return { times.front(), times.at(times.size() / 2), times.back() };
}

void report(const char *what, Figures figures, double target)
{
    std::printf("%-28s best %7.1f ms  median %7.1f ms  worst %7.1f ms  (target < %.0f ms)\n", what,
        figures.best, figures.median, figures.worst, target);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    QStringList paths;
    for (int i = 0; i < Form1::MaxSongs; ++i) {
        paths.append(
            QStringLiteral("/home/listener/Music/Piano Works Volume %1/Composer %2 - Piece "
                           "number %3.mid")
                .arg(i / 500, 2, 10, QLatin1Char('0'))
                .arg(i % 97, 2, 10, QLatin1Char('0'))
                .arg(i, 5, 10, QLatin1Char('0')));
    }
    const QString album = dir.filePath(QStringLiteral("Full.alp"));
    const QString saved = dir.filePath(QStringLiteral("Saved.alp"));
    if (!TestFiles::write(album, TestFiles::albumBytes(paths)))
        return 1;

    FakePlatform fake;
    Form1 window(fake);
    window.AppFolder = dir.path() + QLatin1Char('/');
    window.show();
    QApplication::processEvents();

    const auto load = [&] {
        fake.dialogOutcomes.push_back({ 0, {}, album });
        window.Command1_Click(1);
        QApplication::processEvents();
    };
    const Figures loadEmpty = measure(
        [&] {
            window.clearSongs();
            QApplication::processEvents();
        },
        load);
    const Figures loadFull = measure([] {}, load);
    const Figures save = measure([] {},
        [&] {
            fake.dialogOutcomes.push_back({ 0, {}, saved });
            window.Command1_Click(2);
            QApplication::processEvents();
        });

    if (window.songCount() != Form1::MaxSongs || !fake.messageBoxes.empty()
        || TestFiles::read(saved) != TestFiles::read(album)) {
        std::fprintf(stderr, "the album did not round-trip\n");
        return 1;
    }
    std::printf("album: %d songs, %lld bytes\n", window.songCount(),
        static_cast<long long>(QFileInfo(album).size()));
    report("Load into an empty list", loadEmpty, 150);
    report("Load replacing a full list", loadFull, 150);
    report("Save (replacing the file)", save, 50);

    QByteArray largest;
    for (int i = 0; i < Form1::MaxSongs; ++i) {
        const QByteArray start = "/m/" + QByteArray::number(i) + "/";
        largest += start + QByteArray(4096 - start.size(), 'x') + "\r\n";
    }
    const std::pair<const char *, QByteArray> edges[] = { { "Load, 32767 x 4096 bytes", largest },
        { "Load, as large, breaks", QByteArray(largest.size(), '\n') },
        { "Load, as large, spaces", QByteArray(" \n").repeated(largest.size() / 2) },
        { "Load, one 20 MB line", QByteArray(20 * 1024 * 1024, 'y') } };
    for (const auto &[what, bytes] : edges) {
        if (!TestFiles::write(album, bytes))
            return 1;
        report(what, measure([] {}, load, 3), 1000);
    }
    return 0;
}
