#include "app/main_window.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// Reading and writing album files on disk through the real window: the line format, the album
// name, the order of ReadAlbum's steps and the files it must refuse.
class TestAlbumFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsLines_data();
    void readsLines();
    void emptyFileGivesEmptyListAndName();
    void readStepsInOrder();
    void writesEachPathWithCrLf();
    void nonAsciiPathsRoundTripByteForByte();
    void albumName_data();
    void albumName();
    void refusesWhatIsNotAnAlbum_data();
    void refusesWhatIsNotAnAlbum();
    void fifoFailsWithoutBlocking();
    void tooShortNameFailsAfterOpen();
    void fullListReadsFirst32767ThenFails();

private:
    QTemporaryDir m_dir;
};

void TestAlbumFile::readsLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("CR LF") << QByteArray("/m/a.mid\r\n/m/b.mid\r\n")
                           << QStringList { "/m/a.mid", "/m/b.mid" }
                           << QStringList { "a.mid", "b.mid" };
    QTest::newRow("bare LF, last line unended")
        << QByteArray("/m/a.mid\n/m/b.mid\r\n/m/c.mid")
        << QStringList { "/m/a.mid", "/m/b.mid", "/m/c.mid" }
        << QStringList { "a.mid", "b.mid", "c.mid" };
    QTest::newRow("blank lines anywhere")
        << QByteArray("\r\n\n/m/a.mid\r\n   \r\n\r\n/m/b.mid\r\n\r\n\n  \n  ")
        << QStringList { "/m/a.mid", "/m/b.mid" } << QStringList { "a.mid", "b.mid" };
    QTest::newRow("spaces trimmed, inner ones kept")
        << QByteArray("   /m/My Song.mid  \r\n") << QStringList { "/m/My Song.mid" }
        << QStringList { "My Song.mid" };
    QTest::newRow("only spaces are trimmed")
        << QByteArray("\t/m/a.mid \t\r\n") << QStringList { "\t/m/a.mid \t" }
        << QStringList { "a.mid \t" };
    QTest::newRow("commas kept") << QByteArray("/m/Bach, J.S. - Air.mid\r\n/m/x,y.mid\r\n")
                                 << QStringList { "/m/Bach, J.S. - Air.mid", "/m/x,y.mid" }
                                 << QStringList { "Bach, J.S. - Air.mid", "x,y.mid" };
    QTest::newRow("bare file name has no display name")
        << QByteArray("/m/a.mid\r\nsong.mid\r\n/x.mid\r\n")
        << QStringList { "/m/a.mid", "song.mid", "/x.mid" } << QStringList { "a.mid", "", "" };
    QTest::newRow("duplicates kept")
        << QByteArray("/m/a.mid\r\n/m/a.mid\r\n") << QStringList { "/m/a.mid", "/m/a.mid" }
        << QStringList { "a.mid", "a.mid" };
    QTest::newRow("a CR alone does not end a line")
        << QByteArray("/m/a\rb.mid\r\n") << QStringList { "/m/a\rb.mid" }
        << QStringList { "a\rb.mid" };
}

void TestAlbumFile::readsLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, names);

    const QString path = m_dir.filePath(QStringLiteral("Rock.alp"));
    QVERIFY(TestFiles::write(path, content));
    FakePlatform fake;
    Form1 window(fake);
    window.appendSong(QStringLiteral("/old/one.mid"), QStringLiteral("one.mid"));

    QString failure;
    QVERIFY2(window.ReadAlbum(path, false, &failure), qPrintable(failure));
    QCOMPARE(window.List1.items(), paths);
    QStringList shown;
    for (int row = 0; row < window.List2->count(); ++row)
        shown.append(window.List2->item(row)->text());
    QCOMPARE(shown, names);
    QCOMPARE(window.album->text(), QStringLiteral("Rock"));
    QCOMPARE(window.AlbumPath, QString());
    QVERIFY(fake.messageBoxes.empty());
}

void TestAlbumFile::emptyFileGivesEmptyListAndName()
{
    const QString path = m_dir.filePath(QStringLiteral("Empty.alp"));
    QVERIFY(TestFiles::write(path, {}));
    FakePlatform fake;
    Form1 window(fake);
    window.appendSong(QStringLiteral("/old/one.mid"), QStringLiteral("one.mid"));

    QVERIFY(window.ReadAlbum(path, true, nullptr));
    QCOMPARE(window.songCount(), 0);
    QCOMPARE(window.List1.count(), 0);
    QCOMPARE(window.album->text(), QStringLiteral("Empty"));
    QCOMPARE(window.AlbumPath, path);
}

// The caption is set and the list emptied before pending events run, once, before any entry.
void TestAlbumFile::readStepsInOrder()
{
    const QString path = m_dir.filePath(QStringLiteral("Jazz.alp"));
    QVERIFY(TestFiles::write(path, "/m/a.mid\r\n/m/b.mid\r\n"));
    FakePlatform fake;
    Form1 window(fake);
    window.appendSong(QStringLiteral("/old/one.mid"), QStringLiteral("one.mid"));
    QStringList seen;
    fake.onProcessEvents = [&] {
        seen.append(QStringLiteral("%1 %2 %3")
                        .arg(window.album->text())
                        .arg(window.songCount())
                        .arg(window.AlbumPath));
    };

    QVERIFY(window.ReadAlbum(path, true, nullptr));
    QCOMPARE(seen, QStringList { QStringLiteral("Jazz 0 ") + path });
    QCOMPARE(window.songCount(), 2);
}

void TestAlbumFile::writesEachPathWithCrLf()
{
    FakePlatform fake;
    Form1 window(fake);
    const QStringList paths { "/m/a.mid", "  /m/spaced .mid", "/m/Bach, J.S.mid", "bare.mid" };
    for (const QString &path : paths)
        window.appendSong(path, window.displayName(path));

    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(window.WriteAlbum(buffer));
    QCOMPARE(buffer.data(),
        QByteArray("/m/a.mid\r\n  /m/spaced .mid\r\n/m/Bach, J.S.mid\r\nbare.mid\r\n"));

    QBuffer closed;
    QVERIFY(!window.WriteAlbum(closed));
}

// What Save writes, Load reads back identically, and the bytes are the file system's names.
void TestAlbumFile::nonAsciiPathsRoundTripByteForByte()
{
    const QStringList paths { QStringLiteral("/home/zoë/Musik/Größe – Nocturne, Op. 9.mid"),
        QStringLiteral("/媒体/日本の歌.mid"), QStringLiteral("/m/Ελληνικά 🎵.MID") };
    const QString path = m_dir.filePath(QStringLiteral("Welt.alp"));
    {
        FakePlatform fake;
        Form1 window(fake);
        for (const QString &song : paths)
            window.appendSong(song, window.displayName(song));
        fake.dialogOutcomes.push_back({ 0, {}, path });
        window.saveCommand();
        QVERIFY(fake.messageBoxes.empty());
    }
    QByteArray expected;
    for (const QString &song : paths)
        expected += QFile::encodeName(song) + "\r\n";
    QCOMPARE(TestFiles::read(path), expected);

    FakePlatform fake;
    Form1 window(fake);
    QVERIFY(window.ReadAlbum(path, true, nullptr));
    QCOMPARE(window.List1.items(), paths);
    QCOMPARE(window.List2->item(1)->text(), QStringLiteral("日本の歌.mid"));
}

void TestAlbumFile::albumName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("named");
    QTest::addColumn<QString>("name");
    QTest::newRow("extension cut") << "/home/u/Rock.alp" << true << "Rock";
    QTest::newRow("any four characters cut") << "/home/u/Rock.txt" << true << "Rock";
    QTest::newRow("four characters") << "/home/u/rock" << true << "";
    QTest::newRow("three characters") << "/home/u/abc" << false << "";
    QTest::newRow("no folder") << "Mix.alp" << true << "Mix";
    QTest::newRow("ends in a slash") << "/home/u/" << false << "";
}

void TestAlbumFile::albumName()
{
    QFETCH(QString, path);
    QFETCH(bool, named);
    QFETCH(QString, name);
    FakePlatform fake;
    Form1 window(fake);
    QString result = QStringLiteral("untouched");
    QCOMPARE(window.albumName(path, result), named);
    QCOMPARE(result, named ? name : QStringLiteral("untouched"));
}

void TestAlbumFile::refusesWhatIsNotAnAlbum_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.alp"))
                                  << "File not found";
    QTest::newRow("missing folder")
        << m_dir.filePath(QStringLiteral("nowhere/a.alp")) << "Path not found";
    QTest::newRow("folder") << m_dir.path() << "is a folder";
    QTest::newRow("device") << QStringLiteral("/dev/zero") << "not a regular file";
    QTest::newRow("empty path") << QString() << "File not found";
}

// Each fails at the open: nothing in the window changes, and the description names the path.
void TestAlbumFile::refusesWhatIsNotAnAlbum()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    FakePlatform fake;
    Form1 window(fake);
    window.appendSong(QStringLiteral("/old/one.mid"), QStringLiteral("one.mid"));
    window.AlbumPath = QStringLiteral("/old/Old.alp");

    QString failure;
    QVERIFY(!window.ReadAlbum(path, true, &failure));
    QVERIFY(!failure.isEmpty());
    QVERIFY2(failure.contains(path) && failure.contains(reason), qPrintable(failure));
    QCOMPARE(window.List1.items(), QStringList { QStringLiteral("/old/one.mid") });
    QCOMPARE(window.songCount(), 1);
    QCOMPARE(window.album->text(), QStringLiteral("?"));
    QCOMPARE(window.AlbumPath, QStringLiteral("/old/Old.alp"));
    QCOMPARE(fake.processEventsCalls, 0);
}

void TestAlbumFile::fifoFailsWithoutBlocking()
{
    const QString path = m_dir.filePath(QStringLiteral("pipe.alp"));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    FakePlatform fake;
    Form1 window(fake);

    ::alarm(60); // a blocked open would otherwise hang the test run
    QString failure;
    const bool read = window.ReadAlbum(path, true, &failure);
    ::alarm(0);
    QVERIFY(!read);
    QVERIFY2(failure.contains(path) && failure.contains("not a regular file"), qPrintable(failure));
    QCOMPARE(window.album->text(), QStringLiteral("?"));
}

// A name too short for an album name fails after the file was opened and AlbumPath was set.
void TestAlbumFile::tooShortNameFailsAfterOpen()
{
    const QString path = m_dir.filePath(QStringLiteral("abc"));
    QVERIFY(TestFiles::write(path, "/m/a.mid\r\n"));
    FakePlatform fake;
    Form1 window(fake);
    window.appendSong(QStringLiteral("/old/one.mid"), QStringLiteral("one.mid"));

    QString failure;
    QVERIFY(!window.ReadAlbum(path, true, &failure));
    QVERIFY(!failure.isEmpty());
    QCOMPARE(window.AlbumPath, path);
    QCOMPARE(window.album->text(), QStringLiteral("?"));
    QCOMPARE(window.List1.items(), QStringList { QStringLiteral("/old/one.mid") });

    QVERIFY(!window.ReadAlbum(path, false, &failure));
}

void TestAlbumFile::fullListReadsFirst32767ThenFails()
{
    QStringList paths;
    for (int i = 0; i < Form1::MaxSongs; ++i)
        paths.append(QStringLiteral("/m/song%1.mid").arg(i));
    const QString full = m_dir.filePath(QStringLiteral("Full.alp"));
    QVERIFY(TestFiles::write(full, TestFiles::albumBytes(paths) + "\r\n  \r\n"));
    const QString over = m_dir.filePath(QStringLiteral("Over.alp"));
    QVERIFY(TestFiles::write(
        over, TestFiles::albumBytes(paths) + "/m/one too many.mid\r\n/m/more.mid\r\n"));

    FakePlatform fake;
    Form1 window(fake);
    QVERIFY(window.ReadAlbum(full, true, nullptr));
    QCOMPARE(window.songCount(), Form1::MaxSongs);

    QString failure;
    QVERIFY(!window.ReadAlbum(over, true, &failure));
    QVERIFY(failure.contains(QStringLiteral("32767")));
    QCOMPARE(window.songCount(), Form1::MaxSongs);
    QCOMPARE(window.List1.count(), Form1::MaxSongs);
    QCOMPARE(window.List1.item(Form1::MaxSongs - 1), paths.last());
    QCOMPARE(window.album->text(), QStringLiteral("Over"));
    QCOMPARE(window.AlbumPath, over);
}

QTEST_MAIN(TestAlbumFile)
#include "test_album_file.moc"
