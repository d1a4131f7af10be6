#include "app/main_window.h"
#include "platform/qt_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString EntryName = QStringLiteral("Quavrel/Startup/Album");

} // namespace

// Start-up and shutdown of the real window: the remembered album, the order of their steps, the
// save question at close, the settings store, and the real program closed by a signal.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void startUpShowsWindowBeforeReadingEntry();
    void appFolderEndsInSlash_data();
    void appFolderEndsInSlash();
    void startUpEntry_data();
    void startUpEntry();
    void startUpWithFifoDoesNotHang();

    void closeWritesEntryBeforeQuestion();
    void closeWithoutCaptionKeepsEntry();
    void firstRunWritesEmptyEntry();
    void startUpAlbumClosesWithoutQuestion();
    void yesKeepsWindowOpenAndSaves();
    void yesWithSaveCancelledAsksAgain();
    void yesWithEmptyListCannotSave();

    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void handEditedEntryWithCommas();

private:
    QTemporaryDir m_dir;
};

void TestStartup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Closing a test window must not end the test program.
    QApplication::setQuitOnLastWindowClosed(false);
}

// The sequencer closes first; the window is on screen, with an empty list, when events first
// run, and only then is the entry read and the album opened.
void TestStartup::startUpShowsWindowBeforeReadingEntry()
{
    const QString album = m_dir.filePath(QStringLiteral("Start.alp"));
    QVERIFY(TestFiles::write(album, "/m/a.mid\r\n"));
    FakePlatform fake;
    fake.settings.insert(EntryName, album);
    Form1 window(fake);
    QStringList seen;
    fake.onProcessEvents = [&] {
        seen.append(QStringLiteral("visible %1, %2 songs, %3")
                        .arg(window.isVisible())
                        .arg(window.songCount())
                        .arg(window.album->text()));
    };

    window.Form_Load();
    QCOMPARE(fake.commands, QStringList { "close canyon" });
    QCOMPARE(fake.processEventsCalls, 2);
    QCOMPARE(seen, (QStringList { "visible 1, 0 songs, ?", "visible 1, 0 songs, Start" }));
    QCOMPARE(window.songCount(), 1);
    QCOMPARE(window.AlbumChanged, qint16(0));
    QVERIFY(!window.Timer1->isActive());
}

void TestStartup::appFolderEndsInSlash_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/opt/quavrel"
                           << "/opt/quavrel/";
    QTest::newRow("root") << "/"
                          << "/";
}

void TestStartup::appFolderEndsInSlash()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    FakePlatform fake;
    fake.folder = folder;
    Form1 window(fake);
    window.Form_Load();
    QCOMPARE(window.AppFolder, expected);
}

void TestStartup::startUpEntry_data()
{
    const QString album = m_dir.filePath(QStringLiteral("Road Trip.alp"));
    QVERIFY(TestFiles::write(album, "/m/a.mid\r\n/m/b.mid\r\n"));
    QStringList many;
    for (int i = 0; i <= Form1::MaxSongs; ++i)
        many.append(QStringLiteral("/m/%1.mid").arg(i));
    const QString huge = m_dir.filePath(QStringLiteral("Huge.alp"));
    QVERIFY(TestFiles::write(huge, TestFiles::albumBytes(many)));
    const QString shortName = m_dir.filePath(QStringLiteral("abc"));
    QVERIFY(TestFiles::write(shortName, "/m/a.mid\r\n"));

    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("songs");
    QTest::addColumn<QString>("caption");

    QTest::newRow("no entry") << false << QString() << 0 << "?";
    QTest::newRow("only spaces") << true << "   " << 0 << "?";
    QTest::newRow("album") << true << album << 2 << "Road Trip";
    QTest::newRow("album in spaces") << true << "  " + album + " " << 2 << "Road Trip";
    QTest::newRow("missing album")
        << true << m_dir.filePath(QStringLiteral("Gone.alp")) << 0 << "?";
    QTest::newRow("a folder") << true << m_dir.path() << 0 << "?";
    QTest::newRow("short name") << true << shortName << 0 << "?";
    QTest::newRow("too many songs") << true << huge << Form1::MaxSongs << "Huge";
}

// AlbumPath keeps the entry untrimmed; every failure is silent and keeps what was reached.
void TestStartup::startUpEntry()
{
    QFETCH(bool, present);
    QFETCH(QString, entry);
    QFETCH(int, songs);
    QFETCH(QString, caption);
    FakePlatform fake;
    if (present)
        fake.settings.insert(EntryName, entry);
    Form1 window(fake);
    window.Form_Load();
    QCOMPARE(window.AlbumPath, entry);
    QCOMPARE(window.songCount(), songs);
    QCOMPARE(window.album->text(), caption);
    QCOMPARE(window.AlbumChanged, qint16(0));
    QVERIFY(fake.messageBoxes.empty());
    QCOMPARE(window.AppFolder, QStringLiteral("/opt/quavrel/"));
}

void TestStartup::startUpWithFifoDoesNotHang()
{
    const QString fifo = m_dir.filePath(QStringLiteral("fifo.alp"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    FakePlatform fake;
    fake.settings.insert(EntryName, fifo);
    Form1 window(fake);
    ::alarm(60); // a blocked open would otherwise hang the test run
    window.Form_Load();
    ::alarm(0);
    QCOMPARE(window.album->text(), QStringLiteral("?"));
    QVERIFY(fake.messageBoxes.empty());
}

void TestStartup::closeWritesEntryBeforeQuestion()
{
    FakePlatform fake;
    Form1 window(fake);
    window.Form_Load();
    window.appendSong(QStringLiteral("/m/a.mid"), QStringLiteral("a.mid"));
    window.album->setText(QStringLiteral("Rock"));
    window.AlbumPath = QStringLiteral(" /home/u/Rock.alp ");
    window.AlbumChanged = 1;
    fake.commands.clear();
    fake.messageBoxAnswers.push_back(MsgBox::IdNo);
    // The entry is written before the question.
    fake.onMessageBox
        = [&] { QCOMPARE(fake.settings.value(EntryName), QStringLiteral(" /home/u/Rock.alp ")); };

    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
    QCOMPARE(fake.commands, QStringList { "close canyon" });
    QCOMPARE(fake.messageBoxes.size(), size_t(1));
    QCOMPARE(fake.messageBoxes.front().text,
        QStringLiteral("Current album list has changed!\r\n\r\nDo you want to Save the changes?"));
    QCOMPARE(fake.messageBoxes.front().style, 36);
    QCOMPARE(fake.messageBoxes.front().title, AppTitle);
}

void TestStartup::closeWithoutCaptionKeepsEntry()
{
    FakePlatform fake;
    fake.settings.insert(EntryName, QStringLiteral("/home/u/Earlier.alp"));
    Form1 window(fake);
    window.Form_Load();
    window.album->setText(QString());
    window.AlbumPath = QString();
    QVERIFY(window.close());
    QCOMPARE(fake.settings.value(EntryName), QStringLiteral("/home/u/Earlier.alp"));
}

// The design-time caption "?" is not "", so the first close writes the empty path.
void TestStartup::firstRunWritesEmptyEntry()
{
    FakePlatform fake;
    Form1 window(fake);
    window.Form_Load();
    QVERIFY(window.close());
    QVERIFY(fake.settings.contains(EntryName));
    QCOMPARE(fake.settings.value(EntryName), QString());
    QVERIFY(fake.messageBoxes.empty());
}

void TestStartup::startUpAlbumClosesWithoutQuestion()
{
    const QString album = m_dir.filePath(QStringLiteral("Again.alp"));
    QVERIFY(TestFiles::write(album, "/m/a.mid\r\n"));
    FakePlatform fake;
    fake.settings.insert(EntryName, album + QStringLiteral("  "));
    Form1 window(fake);
    window.Form_Load();
    QVERIFY(window.close());
    QVERIFY(fake.messageBoxes.empty());
    QCOMPARE(fake.settings.value(EntryName), album + QStringLiteral("  "));
}

// Yes keeps the window open and saves; once saved, the next close asks nothing.
void TestStartup::yesKeepsWindowOpenAndSaves()
{
    const QString album = m_dir.filePath(QStringLiteral("Kept.alp"));
    FakePlatform fake;
    Form1 window(fake);
    window.Form_Load();
    window.appendSong(QStringLiteral("/m/a.mid"), QStringLiteral("a.mid"));
    window.AlbumChanged = 1;
    fake.messageBoxAnswers.push_back(MsgBox::IdYes);
    fake.dialogOutcomes.push_back({ 0, {}, album });

    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(TestFiles::read(album), QByteArray("/m/a.mid\r\n"));
    QCOMPARE(window.AlbumChanged, qint16(0));
    QCOMPARE(fake.settings.value(EntryName), QString()); // written before the save

    QVERIFY(window.close());
    QCOMPARE(fake.messageBoxes.size(), size_t(1));
    QCOMPARE(fake.settings.value(EntryName), album);
}

void TestStartup::yesWithSaveCancelledAsksAgain()
{
    FakePlatform fake;
    Form1 window(fake);
    window.Form_Load();
    window.appendSong(QStringLiteral("/m/a.mid"), QStringLiteral("a.mid"));
    window.AlbumChanged = 1;
    fake.messageBoxAnswers.push_back(MsgBox::IdYes);

    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QCOMPARE(fake.dialogs.size(), size_t(1));
    QCOMPARE(window.AlbumChanged, qint16(1));

    fake.messageBoxAnswers.push_back(MsgBox::IdNo);
    QVERIFY(window.close());
    QCOMPARE(fake.messageBoxes.size(), size_t(2));
    QCOMPARE(fake.commands.count(QStringLiteral("close canyon")), 3);
}

void TestStartup::yesWithEmptyListCannotSave()
{
    FakePlatform fake;
    Form1 window(fake);
    window.Form_Load();
    window.AlbumChanged = 1;
    fake.messageBoxAnswers.push_back(MsgBox::IdYes);
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
    QVERIFY(fake.dialogs.empty());
}

void TestStartup::settingsRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("spaces around") << "  /home/u/Rock.alp   ";
    QTest::newRow("only spaces") << "   ";
    QTest::newRow("empty") << "";
    QTest::newRow("commas") << "/m/Bach, J.S./a,b.alp";
    QTest::newRow("commas and spaces") << " a, b ,c ";
    QTest::newRow("INI syntax") << "/m/x;y=z \"q\" #1 [a].alp";
    QTest::newRow("backslashes") << "C:\\Music\\Rock.alp";
    QTest::newRow("at sign") << "@Invalid()";
    QTest::newRow("non-ASCII") << "/home/zoë/日本の歌 🎵.alp";
    QTest::newRow("tab") << "\t/m/a.alp";
}

// The real settings store, in $XDG_CONFIG_HOME/Quavrel/Quavrel.conf, keeps values exactly.
void TestStartup::settingsRoundTrip()
{
    QFETCH(QString, value);
    {
        QtPlatform platform;
        platform.saveSetting(
            QStringLiteral("Quavrel"), QStringLiteral("Startup"), QStringLiteral("Album"), value);
    }
    QtPlatform platform;
    QCOMPARE(platform.getSetting(QStringLiteral("Quavrel"), QStringLiteral("Startup"),
                 QStringLiteral("Album"), QStringLiteral("default")),
        value);
    const QString conf = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Quavrel/Quavrel.conf");
    QVERIFY2(TestFiles::read(conf).contains("[Startup]"), qPrintable(conf));
    const QSettings file(conf, QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("Startup/Album")).toString(), value);
    QCOMPARE(platform.getSetting(QStringLiteral("Quavrel"), QStringLiteral("Startup"),
                 QStringLiteral("Never"), QStringLiteral("default")),
        QStringLiteral("default"));
}

void TestStartup::handEditedEntryWithCommas()
{
    const QString conf = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/QuavrelEdited/QuavrelEdited.conf");
    QVERIFY(QDir().mkpath(QFileInfo(conf).path()));
    QVERIFY(TestFiles::write(conf, "[Startup]\nAlbum=/m/Bach,J.S.alp\n"));
    QtPlatform platform;
    QCOMPARE(platform.getSetting(QStringLiteral("QuavrelEdited"), QStringLiteral("Startup"),
                 QStringLiteral("Album"), {}),
        QStringLiteral("/m/Bach,J.S.alp"));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
