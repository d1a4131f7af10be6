#include "midi/smf_canonical.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "tests/support/smf_builder.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using namespace SmfBuilder;

namespace {

// What the player gets of a file: its events after the opening tempo, as "milliseconds:hex", and
// the time of its end, or why it gets nothing.
QString played(const QByteArray &file)
{
    // Read from a copy of exactly the file's size: AddressSanitizer reports any read past its end.
    const std::vector<std::uint8_t> exact(file.begin(), file.end());
    const Smf::ReadResult read = Smf::readSong(exact);
    const Smf::CanonicalSong canonical = Smf::canonicalSong(read.song);
    if (!read.error.empty() || !canonical.error.empty())
        return read.error.empty() ? u"too long"_s : u"refused"_s;
    QStringList out;
    for (const Smf::Event &event : canonical.song.events) {
        const QByteArray bytes(
            reinterpret_cast<const char *>(canonical.song.bytes(event).data()), event.size);
        if (&event != &canonical.song.events.front())
            out.append(QString::number(event.tick) + u':' + QLatin1StringView(bytes.toHex()));
    }
    return (out << u"end %1"_s.arg(canonical.song.endTick)).join(u' ');
}

} // namespace

class TestMidiFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reads_data();
    void reads();
    void refusesHugeFiles();
};

void TestMidiFile::reads_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("played");
    // Running status across a meta event, SysEx and stray system bytes (skipped with their data
    // bytes), a data byte above 127 clamped, an unknown chunk before the track, no End of Track,
    // a stray byte after the last chunk; the player gets channel messages and whole SysEx
    // messages, and notes left sounding are switched off at the end.
    Track odd;
    odd.noteOn(0, 2, 60).event(10, { 0xFF, 1, 1, 'x' }).event(0, { 61, 0xC8 });
    odd.event(0, { 0xF0, 2, 0x7E, 0xF7 }).event(0, { 0xF7, 1, 0x40 }).event(5, { 62, 0 });
    odd.event(0, { 0xF2, 1, 2 });
    const QByteArray lenient
        = odd.event(0, { 0xF1, 3 }).event(0, { 0xFE }).event(0, { 63, 5 }).chunk();
    QTest::newRow("lenient")
        << header(0, 1, 500) + chunk("XFIH", "junk") + lenient + '\n'
        << "0:923c64 10:923d7f 10:f07ef7 15:923e00 15:923f05 15:823c00 15:823d00 15:823f00 end 15";
    // Any number of tracks is merged in time order, earlier tracks first at equal times.
    Track first;
    const QByteArray a = first.noteOn(0, 0, 60).noteOff(100, 0, 60).endOfTrack().chunk();
    const QByteArray b = Track().noteOn(50, 1, 64).noteOff(50, 1, 64).endOfTrack(20).chunk();
    QTest::newRow("format 0, two tracks")
        << header(0, 1, 500) + a + b << "0:903c64 50:914064 100:803c40 100:814040 end 120";
    QByteArray many = header(1, 300, 500);
    QStringList order;
    for (int i = 0; i < 300; ++i) {
        many += Track().noteOff(quint32(299 - i), i % 16, 60).chunk();
        order.prepend(u"%1:%2"_s.arg(299 - i).arg(0x80 + i % 16, 0, 16) + u"3c40"_s);
    }
    QTest::newRow("300 tracks") << many << order.join(u' ') + u" end 299"_s;
    const QByteArray song = first.song();
    const QByteArray rmid = "RIFF" + QByteArray(4, 0) + "RMID";
    const auto data = [&](int length) { return rmid + "data" + char(length) + QByteArray(3, 0); };
    QTest::newRow("RIFF RMID") << data(song.size()) + song << "0:903c64 100:803c40 end 100";
    // MIDI data said to be longer than the file, a chunk whose pad byte is missing at the end, a
    // header cut short: no RIFF file, and no MIDI file either.
    QTest::newRow("RIFF data past end") << data(song.size() + 1) + song << "refused";
    QTest::newRow("RIFF without last pad")
        << rmid + "LIST" + char(1) + QByteArray(3, 0) + 'x' << "refused";
    QTest::newRow("RIFF header cut short") << rmid.left(11) << "refused";
    // The header promises 30 tracks and 20 bytes; one track follows, with an event after its end.
    const QByteArray longHeader
        = chunk("MThd", QByteArray::fromHex("0001001e01f4") + QByteArray(14, 0));
    const QByteArray afterEnd = chunk("MTrk", first.body + QByteArray::fromHex("00903e64"));
    QTest::newRow("long header") << longHeader + afterEnd << "0:903c64 100:803c40 end 100";
    // A track cut inside its second event plays what it holds.
    const QByteArray cut = header(1, 2, 500) + chunk("MTrk", a.mid(8, 7)) + a;
    QTest::newRow("track cut short") << cut << "0:903c64 0:903c64 100:803c40 end 100";
    // Gaps of three longest delta times around skipped clock bytes: the writer bridges them.
    constexpr quint32 Delta = 0x0FFFFFFF;
    Track gap;
    gap.tempo(0, 1).noteOn(Delta, 0, 60).event(Delta, { 0xF8 }).event(Delta, { 0xF8 });
    QTest::newRow("long gaps") << gap.noteOff(Delta, 0, 60).song(0x7FFF)
                               << "8:903c64 33:803c40 end 33";
    // 500 ticks at 1 ms, then 750 at 2 ms (the tempo of 0 is ignored).
    Track map;
    map.noteOn(0, 0, 60).tempo(500, 1000000).tempo(0, 0).noteOff(500, 0, 60);
    QTest::newRow("tempo map") << map.endOfTrack(250).song() << "0:903c64 1500:803c40 end 2000";
    // 25 or 29.97 frames of 40 ticks a second, tempo events meaningless.
    Track smpte;
    smpte.noteOn(0, 0, 60).tempo(0, 1000000).noteOff(1000, 0, 60).endOfTrack(500);
    QTest::newRow("smpte 25") << smpte.song(0xE728) << "0:903c64 1000:803c40 end 1500";
    QTest::newRow("smpte 29.97") << smpte.song(0xE328) << "0:903c64 834:803c40 end 1251";
    // Format 2 sequences play one after another, each from the default tempo.
    Track slow;
    slow.tempo(0, 1000000).noteOn(0, 0, 60).noteOff(500, 0, 60).endOfTrack(20);
    const QByteArray second = Track().noteOn(0, 0, 62).noteOff(500, 0, 62).chunk();
    QTest::newRow("format 2") << header(2, 2, 500) + slow.chunk() + second
                              << "0:903c64 1000:803c40 1040:903e64 1540:803e40 end 1540";
    Track hanging;
    hanging.noteOn(0, 9, 36).noteOn(0, 0, 60).noteOn(250, 0, 64).noteOff(0, 0, 64);
    hanging.noteOn(0, 0, 67, 0).endOfTrack(250);
    const QString switchedOff = u"250:904300 500:803c00 500:892400 end 500"_s;
    QTest::newRow("hanging notes")
        << hanging.song() << u"0:992464 0:903c64 250:904064 250:804040 "_s + switchedOff;
    // 0x0FFFFFFF ticks of 16.7 s each: legal, but millennia long.
    Track tooLong;
    tooLong.tempo(0, 0xFFFFFF).noteOn(0, 0, 60).noteOff(Delta, 0, 60);
    QTest::newRow("too long") << tooLong.song(1) << "too long";

    const QByteArray body = Track().noteOn(0, 0, 60).noteOff(96, 0, 60).endOfTrack().body;
    const QByteArray track = chunk("MTrk", body);
    const QByteArray head = header(1, 1, 96);
    // A file that ends after a delta time, in a meta event or in a system message plays what
    // comes before, reading nothing past its end.
    for (const char *cut : { "00", "00ff", "00f2" }) {
        QTest::addRow("ends at %s", cut)
            << head + chunk("MTrk", body.chopped(4) + QByteArray::fromHex(cut))
            << "0:903c64 500:803c40 end 500";
    }
    QTest::newRow("no header") << track << "refused";
    QTest::newRow("header cut short") << head.left(6) << "refused";
    QTest::newRow("header only") << head << "refused";
    QTest::newRow("short header") << chunk("MThd", QByteArray(4, 0)) + track << "refused";
    QTest::newRow("header past end") << chunk("MThd", head.mid(8), 0xFFFFFFFF) << "refused";
    QTest::newRow("division 0") << header(1, 1, 0) + track << "refused";
    QTest::newRow("smpte 0 ticks per frame") << header(1, 1, 0xE700) + track << "refused";
    QTest::newRow("track past end") << head + chunk("MTrk", body, 1000) << "refused";
    const QByteArray fiveBytes = QByteArray::fromHex("00903c648180808000803c00");
    QTest::newRow("five-byte delta") << head + chunk("MTrk", fiveBytes) << "refused";
    const QByteArray meta = Track().event(0, { 0xFF, 1, 100, 'a' }).chunk();
    QTest::newRow("meta past track") << head + meta + track << "refused";
    QTest::newRow("no status byte") << head + Track().event(0, { 60, 100 }).chunk() << "refused";
}

void TestMidiFile::reads()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, played);
    QCOMPARE(::played(file), played);
    QCOMPARE(songFault(span(file)), QString());
}

// A file over 1 GiB is refused, though this one is a valid song: a track that ends at once, padded
// to the file's end (a sparse file, mapped).
void TestMidiFile::refusesHugeFiles()
{
    constexpr qint64 Size = (qint64(1) << 30) + 1;
    QTemporaryFile file;
    const QByteArray start = header(0, 1, 96) + chunk("MTrk", Track().endOfTrack().body, Size - 22);
    QVERIFY(file.open() && file.write(start) == start.size() && file.resize(Size));
    const uchar *bytes = file.map(0, Size);
    QVERIFY(bytes != nullptr);
    QCOMPARE(Smf::readSong({ bytes, std::size_t(Size) }).error, "the file is too large for a song");
}

QTEST_GUILESS_MAIN(TestMidiFile)
#include "test_midi_file.moc"
