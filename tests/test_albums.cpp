#include "app/main_window.h"
#include "platform/qt_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/test_device.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString Entry = QStringLiteral("Quavrel/Startup/Album");
const QString Old = QStringLiteral("/home/u/Old.alp");

// Song paths folder0, folder1, ...
QStringList songs(int count, const QString &folder = QStringLiteral("/m/"))
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(folder + QString::number(i));
    return paths;
}

// A Load over the changed song /m/0: the album (content for Rock.alp, or a file set up once;
// neither for a cancelled dialog), the songs it leaves, the failure shown, the caption,
// whether AlbumPath is the album, the answer to the save question, and where that Save goes
// (empty for a cancelled dialog).
struct Load
{
    const char *tag;
    QByteArray content {};
    QString paths {}, failure {}, file {}, caption = QStringLiteral("Rock"), saveTo {};
    int opened = true, answer = MsgBox::IdNo;
};
// A Save of songs over Old: the file chosen, how it is set up (a tmpfs with so many bytes free
// when a number), the caption it gives, and the cause named when it fails.
struct Save
{
    const char *tag;
    QString target {}, setup {}, caption {}, cause {};
    int songs = 2;
};
// A start-up from the entry (none when null), the caption and songs it gives, then a close,
// answered (after a song was added) when an answer is given: the album then saved to, the
// questions asked and the entry left (the start-up one when null).
struct Life
{
    const char *tag;
    QString entry {}, caption = QStringLiteral("?"), chosen {}, after {};
    int songs = 0, answer = 0, questions = 0;
};

template <typename Row> void addRows(std::initializer_list<Row> rows)
{
    QTest::addColumn<Row>("row");
    for (const Row &row : rows)
        QTest::newRow(row.tag) << row;
}

} // namespace

// Albums on real files through the real window: the line rules, what Load refuses, a Save that
// never costs the album on disk, the save question, start-up and close, and the file dialogs.
class TestAlbums : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void load_data();
    void load();
    void fileNames();
    void save_data();
    void save();
    void startUpAndClose_data();
    void startUpAndClose();
    void handEditedEntry();
    void realFileDialog();

private:
    QString file(const QString &name) const { return m_dir->filePath(name); }
    QString fixed(const QString &name) const { return QDir(m_fixed.path()).filePath(name); }
    void choose(const QString &path) { m_fake.dialogOutcomes.push_back({ 0, {}, path }); }
    void click(int index) { QTest::mouseClick(m_window->Command1.at(index), Qt::LeftButton); }
    bool mountDisk(const QString &album, const QByteArray &old, int freeBytes);

    QTemporaryDir m_fixed;
    std::unique_ptr<QTemporaryDir> m_dir;
    FakePlatform m_fake;
    std::unique_ptr<Form1> m_window;
    QByteArray m_disk;
};

// Files that tests read but never change; Big.alp is one byte past the largest album.
void TestAlbums::initTestCase()
{
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication::setQuitOnLastWindowClosed(false);
    qputenv("HOME", QFile::encodeName(m_fixed.path())); // the album dialogs open in HOME/Music
    QVERIFY(QDir(m_fixed.path()).mkpath("Folder.alp") && QDir(m_fixed.path()).mkpath("dialog"));
    QCOMPARE(::mkfifo(QFile::encodeName(fixed("pipe.alp")).constData(), 0600), 0);
    for (const auto &[name, bytes] : std::initializer_list<std::pair<const char *, QByteArray>> {
             { "Road Trip.alp", "/m/a\r\n/m/b\r\n" }, { "abc", "/m/a\r\n" },
             { "Long.alp", "/m/a\r\n/" + QByteArray(4096, 'x') },
             { "Huge.alp", songs(Form1::MaxSongs + 1).join("\r\n").toUtf8() },
             { "Big.alp", QByteArray(Form1::MaxSongs * 4098 + 1, '\n') }, { "dialog/a.mid", "" },
             { "dialog/B.MID", "" }, { "dialog/c.Mid", "" }, { "dialog/d.midi", "" } })
        QVERIFY(TestFiles::write(fixed(name), bytes));
}

void TestAlbums::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_fake = FakePlatform(); // the window before keeps a valid platform until it goes
    m_window = std::make_unique<Form1>(m_fake);
    m_window->show();
    m_window->AlbumPath = Old;
    m_window->AlbumChanged = 1;
    ::alarm(60); // a row that blocks, on a FIFO say, ends the run
}

void TestAlbums::load_data()
{
    const QString paths = songs(Form1::MaxSongs).join(u'|');
    addRows<Load>({ { "CR LF, LF, last line unended", "/m/a\r\n/m/b\n/m/c", "/m/a|/m/b|/m/c" },
        { "a CR alone ends a line", "/m/a\rb\r\r\n/m/c\r", "/m/a|b|/m/c" },
        { "blank lines anywhere", "\r\n\n/m/a\r\n \r\n\r\n/m/b\r\n\n \n ", "/m/a|/m/b" },
        { "only spaces trimmed", "  /m/My a \r\n\t/m/b \t\r\n", "/m/My a|\t/m/b \t" },
        { "commas, bare, twice", "/m/B, J.\r\nb\r\n/m/a\r\n/m/a", "/m/B, J.|b|/m/a|/m/a" },
        { "UTF-8", "/zo\xc3\xab/\xe6\x97\xa5.mid", "/zoë/日.mid" }, { "empty file", "" },
        { "line of 4096 bytes", "/" + QByteArray(4095, 'x'), "/" + QString(4095, 'x') },
        { "32767 songs", songs(Form1::MaxSongs).join("\r\n").toUtf8() + "\r\n \n", paths },
        { "Yes: saved first", "/m/b", "/m/b", "", "", "Rock", "A.alp", true, MsgBox::IdYes },
        { "Yes, Save cancelled", "/m/b", "/m/b", "", "", "Rock", "", true, MsgBox::IdYes },
        { "Load cancelled", {}, "/m/0", "", "", "?", {}, false },
        { "32768 songs", {}, paths, "32767", "Huge.alp", "Huge" },
        { "missing file", {}, "/m/0", "File not found", "Gone.alp", "?", {}, false },
        { "missing folder", {}, "/m/0", "Path not found", "no/a.alp", "?", {}, false },
        { "folder", {}, "/m/0", "is a folder", "Folder.alp", "?", {}, false },
        { "FIFO", {}, "/m/0", "not a regular file", "pipe.alp", "?", {}, false },
        { "name too short", {}, "/m/0", "too short", "abc", "?" },
        { "line of 4097 bytes", {}, "/m/0", "longer than 4096", "Long.alp", "?", {}, false },
        { "past 32767 lines", {}, "/m/0", "too large", "Big.alp", "?", {}, false } });
}

// A refused album changes nothing; one cut at the song limit keeps what was read, and so does
// not count as saved. A Yes to the save question saves first, whatever then happens.
void TestAlbums::load()
{
    QFETCH(Load, row);
    const QString path = row.file.isEmpty() ? file("Rock.alp") : fixed(row.file);
    QVERIFY(row.content.isNull() || TestFiles::write(path, row.content));
    m_window->appendSong(QStringLiteral("/m/0"), QStringLiteral("0"));
    m_fake.messageBoxAnswers.push_back(row.answer);
    if (!row.saveTo.isNull())
        m_fake.dialogOutcomes.push_back(
            { row.saveTo.isEmpty() ? CommonDialog::CancelErrorCode : 0, {}, file(row.saveTo) });
    if (!row.content.isNull() || !row.file.isEmpty())
        choose(path);
    click(1);
    const bool failed = !row.failure.isEmpty();
    QCOMPARE(m_fake.messageBoxes.size(), size_t(failed ? 2 : 1)); // the save question first
    const QString told = m_fake.messageBoxes.back().text;
    QVERIFY2(told.contains(row.failure) && told.contains(failed ? path : ""), qPrintable(told));
    QCOMPARE(m_window->List1.items().join(u'|'), row.paths);
    QCOMPARE(m_fake.dialogs.back().InitDir, m_fixed.path()); // no Music folder yet
    QCOMPARE(m_window->album->text(), row.caption);
    QCOMPARE(m_window->AlbumPath, row.opened ? path : Old);
    QCOMPARE(m_window->AlbumChanged, qint16(failed || !row.opened));
    QCOMPARE(TestFiles::read(file("A.alp")), row.saveTo.isEmpty() ? QByteArray() : "/m/0\r\n");
}

// File names are bytes: a line that is not UTF-8 names its file, plays, and is saved unchanged.
// A name with a line break cannot be an album line, so Add and drops skip it.
void TestAlbums::fileNames()
{
    const QByteArray song = QFile::encodeName(m_dir->path()) + "/Caf\xe9 \xff.mid";
    const int fd = ::open(song.constData(), O_CREAT | O_WRONLY, 0644);
    const auto removeSong = qScopeGuard([&] { ::unlink(song.constData()); });
    QVERIFY(fd >= 0 && ::write(fd, "no song", 7) == 7 && ::close(fd) == 0);
    const QByteArray bytes
        = song + "\r\n/\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82\r\n\xef\xbb\xbf/m/\xc3\xa9\r\n";
    QVERIFY(TestFiles::write(file("Bytes.alp"), bytes));
    choose(file("Bytes.alp"));
    click(1);
    const QString path = m_window->List1.item(0);
    QVERIFY(m_window->Exists(path) && QtPlatform().shortPathName(path) == path);
    TestDevice device(SequencerDevice::Output::Offline); // the file opens, but is no song
    QCOMPARE(device.open(path), 0u);
    device.finishWork();
    QCOMPARE(device(QStringLiteral("play canyon")), SequencerDevice::InvalidFile);
    QCOMPARE(m_window->List2->item(2)->text(), QStringLiteral("é"));
    choose(file("Copy.alp"));
    click(2);
    QCOMPARE(TestFiles::read(file("Copy.alp")), bytes);

    choose(QStringLiteral("/m/a\nb.mid"));
    click(0);
    choose(QStringLiteral("/m") + QChar(u'\0') + "x\ry.mid" + QChar(u'\0') + "c.mid");
    click(0);
    Q_EMIT m_window->List2->filesDropped({ "/m/d\re.mid", "/m/f\n.mid", "/m/g.mid" }, 1, 0, 0, 0);
    QCOMPARE(m_window->List1.items().mid(3).join(u'|'), QStringLiteral("/m/c.mid|/m/g.mid"));
}

void TestAlbums::save_data()
{
    QVERIFY(QDir(m_fixed.path()).mkpath("Music"));
    const char *full = "No space left on device";
    addRows<Save>({ { "new, as typed", "Mixtape", "", "Mix" },
        { "over an album", "Rock.alp", "old", "Rock" },
        { "through a link", "Link.alp", "link", "Link" }, { "four-character name", "rock", "", "" },
        { "three-character name", "abc", "", "", "too short" },
        { "nothing to save", "Rock.alp", "old", "", "", 0 },
        { "a folder", "Folder.alp", "folder", "", "directory" },
        { "vanished folder", "gone/Lost.alp", "", "", "No such file" },
        { "read-only", "disk/Rock.alp", "-1", "", "Read-only file system" },
        { "full, list in Qt's buffer", "disk/Rock.alp", "0", "", full, 3 },
        { "full, list past Qt's buffer", "disk/Rock.alp", "0", "", full, 2000 },
        { "4 KB free, list in the buffer", "disk/Rock.alp", "4096", "", full, 200 } });
}

// A failed Save leaves the old album byte for byte, no file beside it, and the album state as
// it was, and names the system's cause; a successful one replaces the album in place.
void TestAlbums::save()
{
    QFETCH(Save, row);
    const QString path = file(row.target);
    const QByteArray old = "/old/1\r\n/old/2\r\n";
    QVERIFY(TestFiles::write(file("Rock.alp"), old)
        && QFile::setPermissions(file("Rock.alp"), QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(row.setup != "link" || QFile::link(file("Rock.alp"), path));
    QVERIFY(row.setup != "folder" || QDir().mkdir(path));
    const auto unmount = qScopeGuard([&] { ::umount2(m_disk.constData(), MNT_DETACH); });
    if (row.target.startsWith("disk/") && !mountDisk(path, old, row.setup.toInt()))
        QSKIP("a full or read-only disk is a small tmpfs, which only root can mount");
    const QString folder = QFileInfo(path).absolutePath();
    const auto entries = [&folder] {
        return QDir(folder, {}, QDir::Name, QDir::AllEntries | QDir::Hidden | QDir::System).count();
    };
    const qsizetype before = entries();
    const QByteArray bytes = TestFiles::read(path);
    const auto permissions = QFile::permissions(path);
    const QStringList paths = songs(row.songs, "/new/a rather long folder name/song number ");
    for (const QString &song : paths)
        m_window->appendSong(song, {});
    m_window->album->setText(QStringLiteral("Old"));
    choose(path);
    click(2);
    const bool failed = !row.cause.isEmpty() || row.songs == 0; // an empty list is not saved
    QCOMPARE(m_fake.dialogs.size(), size_t(row.songs > 0)); // nor asked for a name
    for (const CommonDialog &shown : m_fake.dialogs)
        QVERIFY(shown.FileName == Old && shown.InitDir == fixed("Music"));
    QCOMPARE(m_fake.messageBoxes.size(), size_t(!row.cause.isEmpty()));
    const QString text = m_fake.takeBoxes();
    QVERIFY2(text.contains(row.cause) && (text.isEmpty() || text.contains(path)), qPrintable(text));
    QCOMPARE(TestFiles::read(path), failed ? bytes : (paths.join("\r\n") + "\r\n").toUtf8());
    QCOMPARE(entries(), before + (!failed && bytes.isNull()));
    QCOMPARE(QFileInfo(path).isSymLink(), row.setup == "link");
    QVERIFY(bytes.isNull() || QFile::permissions(path) == permissions);
    QCOMPARE(m_window->AlbumPath, failed ? Old : path);
    QCOMPARE(m_window->album->text(), failed ? QStringLiteral("Old") : row.caption);
    QCOMPARE(m_window->AlbumChanged, qint16(failed));
}

// Mounts a tmpfs at file("disk") that holds the album and has freeBytes free; -1 makes it
// read-only instead.
bool TestAlbums::mountDisk(const QString &album, const QByteArray &old, int freeBytes)
{
    m_disk = QFile::encodeName(file("disk"));
    const QByteArray size = "size=" + QByteArray::number(4096 + std::max(freeBytes, 0));
    return ::geteuid() == 0 && QDir().mkdir(file("disk"))
        && ::mount("tmpfs", m_disk.constData(), "tmpfs", 0, size.constData()) == 0
        && TestFiles::write(album, old)
        && (freeBytes >= 0
            || ::mount(nullptr, m_disk.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
}

void TestAlbums::startUpAndClose_data()
{
    const QString entry = " " + fixed("Road Trip.alp") + "  ";
    const QString kept = fixed("Kept.alp");
    addRows<Life>({ { "no entry: an empty one is written" }, { "only spaces", "   " },
        { "album in spaces", entry, "Road Trip", {}, {}, 2 }, { "FIFO", fixed("pipe.alp") },
        { "name too short", fixed("abc") }, { "line of 4097 bytes", fixed("Long.alp") },
        { "32768 songs, told", fixed("Huge.alp"), "Huge", {}, {}, Form1::MaxSongs },
        { "changed, No closes", entry, "Road Trip", {}, {}, 2, MsgBox::IdNo, 1 },
        { "changed, Yes saves as B", entry, "Road Trip", kept, kept, 2, MsgBox::IdYes, 1 },
        { "saved, no album name: entry kept", entry, "Road Trip", fixed("Kept"), {}, 2,
            MsgBox::IdYes, 1 },
        { "changed, Yes, Save cancelled", entry, "Road Trip", {}, {}, 2, MsgBox::IdYes, 2 } });
}

// Start-up failures are silent, except an album cut at the song limit, which a Save would cut
// for good. A close writes the entry while an album name shows, before any question; Yes keeps
// the window open and saves, and a second close then ends it.
void TestAlbums::startUpAndClose()
{
    QFETCH(Life, row);
    if (!row.entry.isNull())
        m_fake.settings.insert(Entry, row.entry);
    m_window->Form_Load();
    const bool cut = row.songs == Form1::MaxSongs;
    QCOMPARE(m_window->AlbumPath, row.entry);
    QCOMPARE(m_window->songCount(), row.songs);
    QCOMPARE(m_window->album->text(), row.caption);
    QVERIFY(
        !cut || m_fake.messageBoxes.at(0).text.startsWith(row.entry + " holds more than 32767"));
    m_window->appendSong(QStringLiteral("/m/x"), {});
    m_window->AlbumChanged = row.answer != 0;
    m_fake.messageBoxAnswers = { row.answer, MsgBox::IdNo };
    choose(row.chosen); // an empty name ends the Save as a cancel does
    const bool stays = row.answer == MsgBox::IdYes;
    QCOMPARE(m_window->close(), !stays);
    // The entry was written before the question, so it names the album as it was.
    QVERIFY(!stays || (m_fake.settings.value(Entry) == row.entry && m_window->close()));
    QCOMPARE(m_fake.commands.count("close canyon"), stays ? 3 : 2); // at start-up and each close
    QCOMPARE(m_fake.messageBoxes.size(), size_t(cut + row.questions));
    QCOMPARE(m_fake.settings.value(Entry, "-"), row.after.isNull() ? row.entry : row.after);
    QVERIFY(row.chosen.isEmpty() || TestFiles::read(row.chosen) == "/m/a\r\n/m/b\r\n/m/x\r\n");
}

// The real settings store reads an entry written by hand with bare commas as one path (the
// program's own entries, spaces and all, come back as written: see test_end_to_end).
void TestAlbums::handEditedEntry()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QVERIFY(QDir(folder).mkpath("ByHand")
        && TestFiles::write(folder + "/ByHand/ByHand.conf", "[Startup]\nAlbum=/m/Bach,J.S.alp\n"));
    QCOMPARE(QtPlatform().getSetting("ByHand", "Startup", "Album", {}), "/m/Bach,J.S.alp");
}

// The real Qt dialog, answered as a user would, shows each filter's own text, matches it in any
// letter case and returns several files as "folder NUL name NUL name"; a cancel comes back as
// the cancel code.
void TestAlbums::realFileDialog()
{
    QString filter;
    QTimer::singleShot(0, this, [&] {
        auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        const auto accept = qScopeGuard([shown] { static_cast<QDialog *>(shown)->accept(); });
        filter = shown->findChild<QComboBox *>("fileTypeCombo")->currentText();
        shown->findChild<QLineEdit *>("fileNameEdit")->setText("\"a.mid\" \"c.Mid\"");
        // Desktop dialogs match case-sensitively, so the patterns themselves take every case.
        const QString patterns = shown->nameFilters().value(0).section(u'(', -1).chopped(1);
        const QDir dir(fixed("dialog"));
        QCOMPARE(dir.entryList(patterns.split(' '), QDir::Files | QDir::CaseSensitive).size(), 3);
    });
    const CommonDialog add { true, fixed("dialog"), 15000, 0x80204, {}, "{Midi}*.mid| *.mid", {} };
    const DialogOutcome outcome = QtPlatform().showFileDialog(DialogKind::Open, add);
    QCOMPARE(filter, QStringLiteral("{Midi}*.mid"));
    // Joined with NUL characters.
    QCOMPARE(outcome.fileName, QStringList({ fixed("dialog"), "a.mid", "c.Mid" }).join(QChar()));
    QTimer::singleShot(0, this, [] { QApplication::activeModalWidget()->close(); });
    QCOMPARE(
        QtPlatform().showFileDialog(DialogKind::Open, add).error, CommonDialog::CancelErrorCode);
}

QTEST_MAIN(TestAlbums)
#include "test_albums.moc"
