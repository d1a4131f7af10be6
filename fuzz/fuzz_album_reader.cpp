#include "album/album_format.h"
#include "platform/file_names.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

namespace {

// Stops the fuzzer with a crash report when an invariant fails.
void check(bool holds)
{
    if (!holds)
        std::abort();
}

AlbumFormat::Reading readAlbum(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    check(buffer.open(QIODevice::ReadOnly));
    return AlbumFormat::read(buffer, QStringLiteral("fuzz.alp"), 8);
}

} // namespace

// Any bytes come back unchanged from the text they decode to. Read as an album, they give at
// most 8 entries (the limit set here) that an album line can hold, without spaces around them,
// and that read back the same once written; an album that is refused gives none.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    check(FileNames::encode(FileNames::decode(bytes)) == bytes);
    const AlbumFormat::Reading reading = readAlbum(bytes);
    check(reading.songs.size() <= 8);
    check(reading.cut || reading.failure.isEmpty() || reading.songs.isEmpty());
    for (const QString &song : reading.songs) {
        check(!song.isEmpty() && AlbumFormat::canHold(song));
        check(AlbumFormat::trimSpaces(QStringView(song)) == song);
        check(FileNames::encode(song).size() <= AlbumFormat::MaxLineBytes);
    }
    check(readAlbum(AlbumFormat::write(reading.songs)).songs == reading.songs);
    return 0;
}
