#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "tests/support/smf_builder.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

using SmfBuilder::Track;

namespace {

std::span<const std::uint8_t> span(const QByteArray &bytes)
{
    return { reinterpret_cast<const std::uint8_t *>(bytes.constData()),
        static_cast<std::size_t>(bytes.size()) };
}

Smf::ReadResult read(const QByteArray &bytes)
{
    return Smf::readSong(span(bytes));
}

struct Timed
{
    std::uint64_t tick;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Timed &) const = default;
};

std::vector<Timed> events(const Smf::Song &song)
{
    std::vector<Timed> out;
    for (const Smf::Event &event : song.events) {
        const auto bytes = song.bytes(event);
        out.push_back({ event.tick, { bytes.begin(), bytes.end() } });
    }
    return out;
}

bool sameEvents(const Smf::Song &a, const Smf::Song &b)
{
    if (a.events.size() != b.events.size())
        return false;
    for (std::size_t i = 0; i < a.events.size(); ++i) {
        const auto x = a.bytes(a.events[i]);
        const auto y = b.bytes(b.events[i]);
        if (a.events[i].tick != b.events[i].tick || !std::ranges::equal(x, y))
            return false;
    }
    return true;
}

// Channel messages only, as "tick:hex".
QStringList channelMessages(const Smf::Song &song)
{
    QStringList out;
    for (const Timed &event : events(song)) {
        if (event.bytes.empty() || event.bytes[0] >= 0xF0)
            continue;
        QByteArray hex;
        for (const std::uint8_t b : event.bytes)
            hex.append(QByteArray::number(b, 16).rightJustified(2, '0'));
        out.append(QString::number(event.tick) + QLatin1Char(':') + QString::fromLatin1(hex));
    }
    return out;
}

// What every song that reads must satisfy: time order, an end after its events, a canonical
// form the player can take, and a writer that round-trips both.
void checkReadable(const Smf::Song &song)
{
    for (std::size_t i = 1; i < song.events.size(); ++i)
        QVERIFY(song.events[i - 1].tick <= song.events[i].tick);
    if (!song.events.empty())
        QVERIFY(song.endTick >= song.events.back().tick);

    const std::vector<std::uint8_t> written = Smf::writeSong(song);
    const Smf::ReadResult again = Smf::readSong(written);
    QCOMPARE(again.error, std::string());
    QVERIFY(sameEvents(again.song, song));
    QCOMPARE(again.song.endTick, song.endTick);
    QCOMPARE(again.song.division, song.division);

    const Smf::CanonicalSong canonical = Smf::canonicalSong(song);
    if (!canonical.error.empty())
        return; // too long to play: refused at open
    QVERIFY(std::isfinite(canonical.endSeconds) && canonical.endSeconds >= 0);
    QVERIFY(canonical.song.endTick <= Smf::MaxSongMilliseconds);
    QVERIFY(std::abs(double(canonical.song.endTick) - canonical.endSeconds * 1000) <= 1.0);
    const Smf::ReadResult player = Smf::readSong(Smf::writeSong(canonical.song));
    QCOMPARE(player.error, std::string());
    QVERIFY(sameEvents(player.song, canonical.song));
    QCOMPARE(player.song.endTick, canonical.song.endTick);
    // Canonical is a fixed point: nothing left to change.
    const Smf::CanonicalSong twice = Smf::canonicalSong(player.song);
    QVERIFY(sameEvents(twice.song, canonical.song));
}

QString sharedMidi(const QString &folder)
{
    return QStringLiteral(QUAVREL_SHARED_DIR "/midi/") + folder;
}

} // namespace

class TestSmfReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void realFilesOpenAndEnd_data();
    void realFilesOpenAndEnd();
    void badFiles_data();
    void badFiles();
    void leniency();
    void formatTwoPlaysTracksInTurn();
    void manyTracksMerge();
    void refusals_data();
    void refusals();
    void tempoMapAndSmpte_data();
    void tempoMapAndSmpte();
    void hangingNotesAreSwitchedOff();
    void tooLongSongIsRefused();
    void longGapsAreBridged();
    void truncationsAtEveryOffset();
    void randomBitFlips();
    void lyingLengths();
    void randomBytes();
    void millionNotes();
};

void TestSmfReader::realFilesOpenAndEnd_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(sharedMidi(QStringLiteral("real")));
    const QStringList names = dir.entryList({ QStringLiteral("*.mid") }, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void TestSmfReader::realFilesOpenAndEnd()
{
    QFETCH(QString, path);
    const Smf::ReadResult result = read(SmfBuilder::readFile(path));
    QCOMPARE(result.error, std::string());
    checkReadable(result.song);
    const Smf::CanonicalSong canonical = Smf::canonicalSong(result.song);
    QCOMPARE(canonical.error, std::string());
    QVERIFY(canonical.endSeconds < 600);
}

void TestSmfReader::badFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<int>("channelMessages");
    // Content after End of Track inside its chunk is ignored.
    QTest::newRow("extra byte") << "jazz-soft__test-corrupt-file-extra-byte.mid" << true << 16;
    // The track's length runs one byte past the end of the file.
    QTest::newRow("missing byte") << "jazz-soft__test-corrupt-file-missing-byte.mid" << false << 0;
    QTest::newRow("0 bytes") << "jazz-soft__test-empty-file.mid" << false << 0;
    QTest::newRow("text") << "jazz-soft__test-not-a-midi-file.mid" << false << 0;
    // System common and real-time bytes in a track are skipped with their data bytes.
    QTest::newRow("illegal all") << "jazz-soft__test-illegal-message-all.mid" << true << 16;
    QTest::newRow("illegal f1") << "jazz-soft__test-illegal-message-f1-xx.mid" << true << 16;
    QTest::newRow("illegal fe") << "jazz-soft__test-illegal-message-fe.mid" << true << 16;
    QTest::newRow("running status meta")
        << "jazz-soft__test-running-status-metaevent.mid" << true << 16;
    QTest::newRow("running status sysex")
        << "jazz-soft__test-running-status-sysex.mid" << true << 16;
    // Cut inside its third track: the track's length runs past the end of the file.
    QTest::newRow("pi damaged") << "midly__PiDamaged.mid" << false << 0;
}

void TestSmfReader::badFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, opens);
    QFETCH(int, channelMessages);
    const QString path = sharedMidi(QStringLiteral("bad/")) + name;
    QVERIFY(QFileInfo::exists(path));
    const Smf::ReadResult result = read(SmfBuilder::readFile(path));
    QCOMPARE(result.error.empty(), opens);
    if (!opens) {
        QVERIFY(result.song.events.empty());
        return;
    }
    checkReadable(result.song);
    const QStringList messages = ::channelMessages(result.song);
    QCOMPARE(messages.size(), channelMessages);
    // The C major scale, each note on for 96 ticks.
    const int scale[] = { 0x3c, 0x3e, 0x40, 0x41, 0x43, 0x45, 0x47, 0x48 };
    for (int i = 0; i < 8; ++i) {
        QVERIFY2(messages[2 * i].startsWith(QString::number(96 * i) + QStringLiteral(":90")
                     + QString::number(scale[i], 16)),
            qPrintable(messages[2 * i]));
        QVERIFY(messages[2 * i + 1].startsWith(QString::number(96 * (i + 1)) + QLatin1Char(':')));
    }
}

void TestSmfReader::leniency()
{
    // Running status across a meta event and a SysEx; a data byte above 127 clamped; an unknown
    // chunk before the track; no End of Track.
    Track track;
    track.noteOn(0, 2, 60, 100).event(10, { 0xFF, 0x01, 1, 'x' }).event(0, { 61, 0xC8 });
    track.event(0, { 0xF0, 2, 0x7E, 0xF7 }).event(5, { 62, 0 });
    const QByteArray file
        = SmfBuilder::header(0, 1, 96) + SmfBuilder::chunk("XFIH", "junk") + track.chunk();
    const Smf::ReadResult result = read(file);
    QCOMPARE(result.error, std::string());
    QCOMPARE(channelMessages(result.song), QStringList({ "0:923c64", "10:923d7f", "15:923e00" }));
    QCOMPARE(result.song.endTick, 15u);
    checkReadable(result.song);

    // Format 0 with two tracks is merged like format 1, in time order.
    Track a;
    a.noteOn(0, 0, 60).noteOff(100, 0, 60).endOfTrack(0);
    Track b;
    b.noteOn(50, 1, 64).noteOff(100, 1, 64).endOfTrack(20);
    const Smf::ReadResult merged = read(SmfBuilder::header(0, 1, 96) + a.chunk() + b.chunk());
    QCOMPARE(merged.error, std::string());
    QCOMPARE(channelMessages(merged.song),
        QStringList({ "0:903c64", "50:914064", "100:803c40", "150:814040" }));
    QCOMPARE(merged.song.endTick, 170u);

    // A RIFF RMID wrapper is looked through.
    const QByteArray smf = SmfBuilder::header(0, 1, 96) + a.chunk();
    QByteArray riff = "RIFF" + QByteArray(4, 0) + "RMID" + "data";
    for (int i = 0; i < 4; ++i)
        riff.append(char(smf.size() >> (8 * i) & 0xFF));
    riff += smf;
    QCOMPARE(channelMessages(read(riff).song), QStringList({ "0:903c64", "100:803c40" }));
}

void TestSmfReader::formatTwoPlaysTracksInTurn()
{
    // Played one after another, each sequence starting at the default tempo.
    Track a;
    a.tempo(0, 1000000).noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack(4);
    Track b;
    b.noteOn(0, 0, 62).noteOff(96, 0, 62).endOfTrack(0);
    const Smf::ReadResult result = read(SmfBuilder::header(2, 2, 96) + a.chunk() + b.chunk());
    QCOMPARE(result.error, std::string());
    QCOMPARE(channelMessages(result.song),
        QStringList({ "0:903c64", "96:803c40", "100:903e64", "196:803e40" }));
    QCOMPARE(result.song.endTick, 196u);
    const Smf::CanonicalSong canonical = Smf::canonicalSong(result.song);
    // 100 ticks at 1 s per quarter, then 96 at 0.5 s per quarter.
    QCOMPARE(canonical.endSeconds, 100.0 / 96 + 0.5);

    const Smf::ReadResult real = read(SmfBuilder::readFile(
        sharedMidi(QStringLiteral("real/jazz-soft__test-2-tracks-type-2.mid"))));
    QCOMPARE(real.error, std::string());
    QCOMPARE(real.song.format, 2);
}

void TestSmfReader::manyTracksMerge()
{
    // More tracks than FluidSynth's own parser takes (128), each one note later than the last.
    QByteArray file = SmfBuilder::header(1, 300, 96);
    for (int i = 0; i < 300; ++i) {
        Track track;
        track.noteOn(std::uint32_t(299 - i), i % 16, 20 + i % 80).noteOff(10, i % 16, 20 + i % 80);
        file += track.endOfTrack().chunk();
    }
    const Smf::ReadResult result = read(file);
    QCOMPARE(result.error, std::string());
    QCOMPARE(result.song.events.size(), 600u);
    QCOMPARE(result.song.endTick, 309u);
    checkReadable(result.song);
}

void TestSmfReader::refusals_data()
{
    QTest::addColumn<QByteArray>("file");
    Track good;
    good.noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    const QByteArray header = SmfBuilder::header(1, 1, 96);
    QTest::newRow("no header") << good.chunk();
    QTest::newRow("header only") << header;
    QTest::newRow("short header") << SmfBuilder::chunk("MThd", QByteArray(4, 0)) + good.chunk();
    QTest::newRow("division 0") << SmfBuilder::header(1, 1, 0) + good.chunk();
    QTest::newRow("smpte 0 ticks per frame") << SmfBuilder::header(1, 1, 0xE700) + good.chunk();
    QTest::newRow("negative chunk length")
        << header + SmfBuilder::chunk("XXXX", QByteArray(16, 0), 0xFFFFFFF0u) + good.chunk();
    QTest::newRow("track past end") << header + SmfBuilder::chunk("MTrk", good.body, 1000);
    QTest::newRow("chunk near 2^31")
        << header + good.chunk() + SmfBuilder::chunk("MTrk", "", 0x7FFFFFFF);
    Track vlq;
    vlq.body = QByteArray::fromHex("00903c64"
                                   "8180808000"
                                   "803c00");
    QTest::newRow("five-byte delta") << header + vlq.chunk();
    Track meta;
    meta.event(0, { 0xFF, 0x01, 100, 'a' });
    QTest::newRow("meta past track") << header + meta.chunk() + good.chunk();
    Track sysex;
    sysex.event(0, { 0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F });
    QTest::newRow("sysex length five bytes") << header + sysex.chunk();
    Track orphan;
    orphan.event(0, { 60, 100 });
    QTest::newRow("data byte with no status") << header + orphan.chunk();
}

void TestSmfReader::refusals()
{
    QFETCH(QByteArray, file);
    const Smf::ReadResult result = read(file);
    QVERIFY(!result.error.empty());
    QVERIFY(result.song.events.empty());
}

void TestSmfReader::tempoMapAndSmpte_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<double>("endSeconds");
    Track map;
    map.noteOn(0, 0, 60).tempo(96, 1000000).tempo(0, 0).noteOff(96, 0, 60).endOfTrack(48);
    // 96 ticks at 0.5 s, then 144 at 1 s (the tempo of 0 is ignored).
    QTest::newRow("tempo map") << SmfBuilder::header(0, 1, 96) + map.chunk() << 2.0;
    Track smpte;
    smpte.noteOn(0, 0, 60).tempo(0, 1000000).noteOff(1000, 0, 60).endOfTrack(500);
    // 25 frames of 40 ticks: 1000 ticks a second, tempo events meaningless.
    QTest::newRow("smpte 25") << SmfBuilder::header(0, 1, 0xE728) + smpte.chunk() << 1.5;
    QTest::newRow("smpte 29.97") << SmfBuilder::header(0, 1, 0xE328) + smpte.chunk()
                                 << 1500.0 / (40 * 30000.0 / 1001.0);
    Track empty;
    empty.endOfTrack();
    QTest::newRow("empty") << SmfBuilder::header(0, 1, 96) + empty.chunk() << 0.0;
}

void TestSmfReader::tempoMapAndSmpte()
{
    QFETCH(QByteArray, file);
    QFETCH(double, endSeconds);
    const Smf::ReadResult result = read(file);
    QCOMPARE(result.error, std::string());
    checkReadable(result.song);
    const Smf::CanonicalSong canonical = Smf::canonicalSong(result.song);
    QVERIFY2(std::abs(canonical.endSeconds - endSeconds) < 1e-9,
        qPrintable(QString::number(canonical.endSeconds)));
    QCOMPARE(canonical.song.endTick, std::uint64_t(std::llround(endSeconds * 1000)));
    // The player's file holds only the tempo that makes one tick a millisecond.
    std::vector<Timed> metas;
    for (const Timed &event : events(canonical.song)) {
        if (event.bytes.size() >= 2 && event.bytes[0] == 0xFF)
            metas.push_back(event);
    }
    QVERIFY(metas == std::vector<Timed>({ { 0, { 0xFF, 0x51, 0x07, 0xA1, 0x20 } } }));
    QCOMPARE(canonical.song.division, Smf::CanonicalDivision);
}

void TestSmfReader::hangingNotesAreSwitchedOff()
{
    Track track;
    track.noteOn(0, 9, 36).noteOn(0, 0, 60).noteOn(48, 0, 64).noteOff(0, 0, 64);
    track.noteOn(0, 0, 67, 0).endOfTrack(48);
    const Smf::ReadResult result = read(SmfBuilder::header(0, 1, 96) + track.chunk());
    const Smf::CanonicalSong canonical = Smf::canonicalSong(result.song);
    QCOMPARE(channelMessages(canonical.song),
        QStringList({ "0:992464", "0:903c64", "250:904064", "250:804040", "250:904300",
            "500:803c00", "500:892400" }));
    QCOMPARE(canonical.song.endTick, 500u);
}

void TestSmfReader::tooLongSongIsRefused()
{
    // 0x0FFFFFFF ticks of 16.7 s each: legal, but millennia long.
    Track track;
    track.tempo(0, 0xFFFFFF).noteOn(0, 0, 60).noteOff(0x0FFFFFFF, 0, 60).endOfTrack();
    const Smf::ReadResult result = read(SmfBuilder::header(0, 1, 1) + track.chunk());
    QCOMPARE(result.error, std::string());
    checkReadable(result.song);
    QVERIFY(!Smf::canonicalSong(result.song).error.empty());
}

void TestSmfReader::longGapsAreBridged()
{
    // Gaps of 2^29 - 2 ticks: two longest deltas around a skipped clock byte, and two sequences
    // of an SMPTE format 2 file whose end and start are each a longest delta away.
    constexpr std::uint32_t Delta = 0x0FFFFFFF;
    Track skipped;
    skipped.tempo(0, 1)
        .noteOn(Delta, 0, 60)
        .event(Delta, { 0xF8 })
        .noteOff(Delta, 0, 60)
        .endOfTrack();
    Track first;
    first.noteOn(0, 0, 60).noteOff(0, 0, 60).endOfTrack(Delta);
    Track second;
    second.noteOn(Delta, 0, 62).noteOff(0, 0, 62).endOfTrack();
    const QByteArray files[] = { SmfBuilder::header(0, 1, 0x7FFF) + skipped.chunk(),
        SmfBuilder::header(2, 2, 0xE2FF) + first.chunk() + second.chunk() };
    for (const QByteArray &file : files) {
        const Smf::ReadResult result = read(file);
        QCOMPARE(result.error, std::string());
        const Smf::ReadResult again = Smf::readSong(Smf::writeSong(result.song));
        QCOMPARE(again.error, std::string());
        QCOMPARE(again.song.endTick, result.song.endTick);
        std::vector<Timed> kept;
        int bridges = 0;
        for (const Timed &event : events(again.song)) {
            if (event.bytes == std::vector<std::uint8_t> { 0xFF, 0x01 })
                ++bridges;
            else
                kept.push_back(event);
        }
        QCOMPARE(kept, events(result.song));
        QCOMPARE(bridges, 1);
        QCOMPARE(Smf::canonicalSong(result.song).error, std::string());
    }
}

void TestSmfReader::truncationsAtEveryOffset()
{
    const QByteArray file
        = SmfBuilder::readFile(sharedMidi(QStringLiteral("real/midly__Clementi.mid")));
    QVERIFY(file.size() > 1000);
    int opened = 0;
    for (qsizetype size = 0; size < file.size(); ++size) {
        const Smf::ReadResult result = read(file.left(size));
        if (result.error.empty()) {
            ++opened;
            checkReadable(result.song);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("at size %1").arg(size)));
        }
    }
    // Cuts at chunk boundaries (and up to 7 bytes after them) leave whole chunks; any other
    // cut leaves a chunk whose length runs past the end.
    QVERIFY(opened > 0);
    QVERIFY(!read(file.left(file.size() - 1)).error.empty());
    QVERIFY(!read(file.left(file.size() - 8)).error.empty());
}

void TestSmfReader::randomBitFlips()
{
    QRandomGenerator random(20261206);
    const QStringList names = { QStringLiteral("midly__Clementi.mid"),
        QStringLiteral("music21__test03.mid"), QStringLiteral("jazz-soft__test-karaoke-kar.mid"),
        QStringLiteral("midly__SysExTest.mid") };
    int opened = 0;
    int refused = 0;
    for (const QString &name : names) {
        const QByteArray original
            = SmfBuilder::readFile(sharedMidi(QStringLiteral("real/")) + name);
        QVERIFY(!original.isEmpty());
        for (int round = 0; round < 500; ++round) {
            QByteArray file = original;
            const int flips = 1 + random.bounded(4);
            for (int i = 0; i < flips; ++i) {
                const int at = random.bounded(int(file.size()));
                file[at] = char(file[at] ^ (1 << random.bounded(8)));
            }
            const Smf::ReadResult result = read(file);
            if (!result.error.empty()) {
                ++refused;
                continue;
            }
            ++opened;
            checkReadable(result.song);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("%1, round %2").arg(name).arg(round)));
        }
    }
    QVERIFY(opened > 0 && refused > 0);
}

void TestSmfReader::lyingLengths()
{
    Track track;
    track.noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack();
    // The header promises 30 tracks and 20 header bytes; one track follows.
    const QByteArray longHeader
        = SmfBuilder::chunk("MThd", QByteArray::fromHex("0001001e0060") + QByteArray(14, 0));
    const Smf::ReadResult promised = read(longHeader + track.chunk());
    QCOMPARE(promised.error, std::string());
    QCOMPARE(promised.song.events.size(), 2u);
    // A header length past the end of the file.
    QVERIFY(!read(SmfBuilder::chunk("MThd", QByteArray::fromHex("000100010060"), 0xFFFFFFFFu))
                 .error.empty());
    // A track length shorter than its events: the track ends at its chunk's end, and the rest
    // is read as a chunk, whose length here runs past the end of the file.
    QVERIFY(!read(SmfBuilder::header(0, 1, 96) + SmfBuilder::chunk("MTrk", track.body, 2))
                 .error.empty());
    // A track cut after its first event, without End of Track: it plays what it holds.
    const QByteArray cut = SmfBuilder::header(1, 2, 96)
        + SmfBuilder::chunk("MTrk", track.body.left(4)) + track.chunk();
    const Smf::ReadResult partial = read(cut);
    QCOMPARE(partial.error, std::string());
    QCOMPARE(channelMessages(partial.song), QStringList({ "0:903c64", "0:903c64", "96:803c40" }));
}

void TestSmfReader::randomBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("random.mid"));
    QRandomGenerator random(50);
    QByteArray bytes(50 * 1024 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    QVERIFY(SmfBuilder::writeFile(path, bytes));
    QVERIFY(!read(SmfBuilder::readFile(path)).error.empty());

    // The same bytes as one track's events, and cut into many small tracks: read or refused,
    // never more than a few times their size in memory.
    const QByteArray header = SmfBuilder::header(1, 1, 96);
    const Smf::ReadResult oneTrack = read(header + SmfBuilder::chunk("MTrk", bytes));
    if (oneTrack.error.empty())
        checkReadable(oneTrack.song);
    QByteArray tracks = header;
    for (qsizetype at = 0; at + 64 <= 4 * 1024 * 1024; at += 64) {
        QByteArray body = bytes.mid(at, 64);
        body[0] = 0;
        body[1] = char(0x90);
        tracks += SmfBuilder::chunk("MTrk", body);
    }
    const Smf::ReadResult many = read(tracks);
    if (many.error.empty()) {
        QVERIFY(many.song.data.size() <= std::size_t(3 * tracks.size()));
        QVERIFY(many.song.events.size() <= std::size_t(tracks.size()));
    }
}

void TestSmfReader::millionNotes()
{
    // A valid file of about 8 MB holding a million notes on 16 tracks.
    QByteArray file = SmfBuilder::header(1, 16, 480);
    for (int t = 0; t < 16; ++t) {
        QByteArray body;
        body.reserve(600000);
        for (int i = 0; i < 62500; ++i) {
            const char key = char(36 + (i + t) % 60);
            body.append(char(0x01)).append(char(0x90 | t)).append(key).append(char(90));
            body.append(char(0x01)).append(char(0x80 | t)).append(key).append(char(0));
        }
        file += SmfBuilder::chunk("MTrk", body + QByteArray::fromHex("00ff2f00"));
    }
    QVERIFY(file.size() > 7 * 1000 * 1000);
    const Smf::ReadResult result = read(file);
    QCOMPARE(result.error, std::string());
    QCOMPARE(result.song.events.size(), 2000000u);
    QCOMPARE(result.song.endTick, 125000u);
    const Smf::CanonicalSong canonical = Smf::canonicalSong(result.song);
    QCOMPARE(canonical.error, std::string());
    QCOMPARE(canonical.endSeconds, 125000 / 960.0);
}

QTEST_GUILESS_MAIN(TestSmfReader)
#include "test_smf_reader.moc"
