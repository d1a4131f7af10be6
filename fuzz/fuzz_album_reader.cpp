#include "app/main_window.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_platform.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

// Any bytes read as an album give a song list in step with itself, of non-empty paths without
// line breaks or surrounding spaces, and never more songs than the list holds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzApplication();
    static FakePlatform platform;
    static Form1 window(platform);
    static QTemporaryDir dir;
    platform.runRealEvents = false;
    const QString path = dir.filePath(QStringLiteral("fuzz.alp"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }
    QString failure;
    window.ReadAlbum(path, true, &failure);
    FUZZ_CHECK(window.List1.count() == window.List2->count());
    FUZZ_CHECK(window.List1.count() <= Form1::MaxSongs);
    for (int row = 0; row < window.List1.count(); ++row) {
        const QString &song = window.List1.item(row);
        FUZZ_CHECK(!song.isEmpty() && !song.contains(QLatin1Char('\n')));
        FUZZ_CHECK(!song.startsWith(QLatin1Char(' ')) && !song.endsWith(QLatin1Char(' ')));
        FUZZ_CHECK(window.List2->item(row)->text() == window.displayName(song));
    }
    return 0;
}
