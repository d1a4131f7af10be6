#include "app/main_window.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

// The Load and Save buttons on the real window, with real album files and scripted dialogs and
// questions: dialog settings, the save question, the album state they leave, and failures that
// must never cost the album on disk.
class TestAlbumCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void loadShowsItsDialog();
    void loadCancelledOrEmptyChangesNothing_data();
    void loadCancelledOrEmptyChangesNothing();
    void loadReplacesListAndMarksSaved();
    void loadOverChangedSongsAnsweredNo();
    void loadOverChangedSongsAnsweredYes();
    void loadYesWithSaveCancelledStillLoads();
    void loadFailureShowsDescriptionAlone();
    void loadTooManySongsKeepsWhatWasRead();

    void saveShowsItsDialog();
    void saveEmptyListDoesNothing();
    void saveCancelledChangesNothing();
    void saveWritesAlbumAndMarksSaved();
    void saveReplacesExistingAlbumWithoutQuestion();
    void saveAfterLoadRewritesSameFile();
    void saveThroughSymbolicLinkKeepsLink();
    void saveUnderFourCharacterName();
    void saveUnderThreeCharacterNameWritesNothing();
    void saveFailsAtOpen_data();
    void saveFailsAtOpen();
    void saveIntoReadOnlyFolderKeepsOldAlbum();
    void saveFailingWhileWritingKeepsOldAlbum();

private:
    void click(int index) { QTest::mouseClick(m_window->Command1.at(index), Qt::LeftButton); }
    void addSongs(const QStringList &paths)
    {
        for (const QString &path : paths)
            QVERIFY(m_window->appendSong(path, m_window->displayName(path)));
    }
    void choose(const QString &path) { m_fake->dialogOutcomes.push_back({ 0, {}, path }); }
    QString file(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakePlatform> m_fake;
    std::unique_ptr<Form1> m_window;
};

void TestAlbumCommands::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_fake = std::make_unique<FakePlatform>();
    m_window = std::make_unique<Form1>(*m_fake);
    m_window->AppFolder = QStringLiteral("/opt/quavrel/");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestAlbumCommands::cleanup()
{
    m_window.reset();
    m_fake.reset();
    m_dir.reset();
}

void TestAlbumCommands::loadShowsItsDialog()
{
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    m_window->Dlog.FileName = QStringLiteral("left over");
    click(1);
    QCOMPARE(m_fake->dialogs.size(), size_t(1));
    const FakePlatform::DialogCall &call = m_fake->dialogs.front();
    QCOMPARE(call.kind, DialogKind::Open);
    QCOMPARE(call.dialog.CancelError, true);
    QCOMPARE(call.dialog.MaxFileSize, 15000);
    QCOMPARE(call.dialog.Flags, 0x80004);
    QCOMPARE(call.dialog.DialogTitle, QStringLiteral("Load Midi Album"));
    QCOMPARE(call.dialog.InitDir, QStringLiteral("/opt/quavrel/"));
    QCOMPARE(call.dialog.FileName, QString());
    QCOMPARE(call.dialog.Filter, QStringLiteral("Midi Album: *.alp|*.alp"));
    QVERIFY(m_fake->messageBoxes.empty());
}

void TestAlbumCommands::loadCancelledOrEmptyChangesNothing_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("cancelled") << true;
    QTest::newRow("empty name") << false;
}

void TestAlbumCommands::loadCancelledOrEmptyChangesNothing()
{
    QFETCH(bool, cancel);
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    if (!cancel)
        choose(QString());
    click(1);
    QCOMPARE(m_fake->messageBoxes.size(), size_t(1)); // the save question only
    QCOMPARE(m_window->List1.items(), QStringList { QStringLiteral("/m/a.mid") });
    QCOMPARE(m_window->AlbumChanged, qint16(1));
    QCOMPARE(m_window->AlbumPath, QStringLiteral("/home/u/Old.alp"));
    QCOMPARE(m_window->album->text(), QStringLiteral("?"));
}

void TestAlbumCommands::loadReplacesListAndMarksSaved()
{
    const QString album = file(QStringLiteral("Road Trip.alp"));
    QVERIFY(TestFiles::write(album, "/m/x.mid\r\n/m/y.mid\r\n"));
    addSongs({ QStringLiteral("/m/a.mid") });
    choose(album);
    click(1);
    QCOMPARE(m_window->List1.items(), (QStringList { "/m/x.mid", "/m/y.mid" }));
    QCOMPARE(m_window->List2->item(1)->text(), QStringLiteral("y.mid"));
    QCOMPARE(m_window->AlbumPath, album);
    QCOMPARE(m_window->album->text(), QStringLiteral("Road Trip"));
    QCOMPARE(m_window->AlbumChanged, qint16(0));
    QVERIFY(m_fake->messageBoxes.empty());
}

void TestAlbumCommands::loadOverChangedSongsAnsweredNo()
{
    const QString album = file(QStringLiteral("B.alp"));
    QVERIFY(TestFiles::write(album, "/m/b.mid\r\n"));
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_fake->messageBoxAnswers.push_back(MsgBox::IdNo);
    choose(album);
    // The question comes before the dialog.
    m_fake->onMessageBox = [this] { QVERIFY(m_fake->dialogs.empty()); };
    click(1);
    QCOMPARE(m_fake->messageBoxes.size(), size_t(1));
    QCOMPARE(m_fake->messageBoxes.front().text,
        QStringLiteral("Current album list has changed!\r\n\r\nDo you want to Save the changes?"));
    QCOMPARE(m_fake->messageBoxes.front().style, 36);
    QCOMPARE(m_fake->dialogs.size(), size_t(1));
    QCOMPARE(m_fake->dialogs.front().dialog.DialogTitle, QStringLiteral("Load Midi Album"));
    QCOMPARE(m_fake->messageBoxes.front().title, AppTitle);
    QCOMPARE(m_window->List1.items(), QStringList { QStringLiteral("/m/b.mid") });
    QCOMPARE(m_window->AlbumChanged, qint16(0));
}

// Yes saves the changed list first, then the Load goes on.
void TestAlbumCommands::loadOverChangedSongsAnsweredYes()
{
    const QString saved = file(QStringLiteral("A.alp"));
    const QString other = file(QStringLiteral("B.alp"));
    QVERIFY(TestFiles::write(other, "/m/b.mid\r\n"));
    addSongs({ QStringLiteral("/m/a1.mid"), QStringLiteral("/m/a2.mid") });
    m_window->AlbumChanged = 1;
    m_fake->messageBoxAnswers.push_back(MsgBox::IdYes);
    choose(saved);
    choose(other);
    click(1);
    QCOMPARE(m_fake->dialogs.size(), size_t(2));
    QCOMPARE(m_fake->dialogs.at(0).kind, DialogKind::Save);
    QCOMPARE(m_fake->dialogs.at(0).dialog.DialogTitle, QStringLiteral("Save Midi List to Album"));
    QCOMPARE(m_fake->dialogs.at(1).kind, DialogKind::Open);
    QCOMPARE(m_fake->dialogs.at(1).dialog.DialogTitle, QStringLiteral("Load Midi Album"));
    QCOMPARE(TestFiles::read(saved), QByteArray("/m/a1.mid\r\n/m/a2.mid\r\n"));
    QCOMPARE(m_window->List1.items(), QStringList { QStringLiteral("/m/b.mid") });
    QCOMPARE(m_window->AlbumPath, other);
    QCOMPARE(m_window->album->text(), QStringLiteral("B"));
    QCOMPARE(m_window->AlbumChanged, qint16(0));
}

void TestAlbumCommands::loadYesWithSaveCancelledStillLoads()
{
    const QString other = file(QStringLiteral("B.alp"));
    QVERIFY(TestFiles::write(other, "/m/b.mid\r\n"));
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_fake->messageBoxAnswers.push_back(MsgBox::IdYes);
    m_fake->dialogOutcomes.push_back(
        { CommonDialog::CancelErrorCode, QStringLiteral("Cancel"), {} });
    choose(other);
    click(1);
    QCOMPARE(m_fake->dialogs.size(), size_t(2));
    QCOMPARE(m_fake->messageBoxes.size(), size_t(1));
    QCOMPARE(m_window->List1.items(), QStringList { QStringLiteral("/m/b.mid") });
    QCOMPARE(m_window->AlbumChanged, qint16(0));
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList { QStringLiteral("B.alp") });
}

void TestAlbumCommands::loadFailureShowsDescriptionAlone()
{
    const QString missing = file(QStringLiteral("Gone.alp"));
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    m_fake->messageBoxAnswers.push_back(MsgBox::IdNo);
    choose(missing);
    click(1);
    QCOMPARE(m_fake->messageBoxes.size(), size_t(2));
    const FakePlatform::MessageBoxCall &box = m_fake->messageBoxes.back();
    QCOMPARE(box.style, 4096);
    QCOMPARE(box.title, AppTitle);
    QVERIFY2(box.text.contains(missing), qPrintable(box.text));
    QCOMPARE(m_window->List1.items(), QStringList { QStringLiteral("/m/a.mid") });
    QCOMPARE(m_window->AlbumPath, QStringLiteral("/home/u/Old.alp"));
    QCOMPARE(m_window->album->text(), QStringLiteral("?"));
    QCOMPARE(m_window->AlbumChanged, qint16(1));

    // A dialog failure other than cancel is reported the same way.
    m_fake->dialogOutcomes.push_back({ 20476, QStringLiteral("Names too long."), {} });
    click(1);
    QCOMPARE(m_fake->messageBoxes.back().text, QStringLiteral("Names too long."));
    QCOMPARE(m_fake->messageBoxes.back().style, 4096);
}

// A failure after the open keeps AlbumPath, caption and what was read; AlbumChanged stays.
void TestAlbumCommands::loadTooManySongsKeepsWhatWasRead()
{
    QStringList paths;
    for (int i = 0; i <= Form1::MaxSongs; ++i)
        paths.append(QStringLiteral("/m/%1.mid").arg(i));
    const QString album = file(QStringLiteral("Huge.alp"));
    QVERIFY(TestFiles::write(album, TestFiles::albumBytes(paths)));
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    choose(album);
    click(1);
    QCOMPARE(m_fake->messageBoxes.size(), size_t(2));
    QCOMPARE(m_fake->messageBoxes.back().style, 4096);
    QCOMPARE(m_window->songCount(), Form1::MaxSongs);
    QCOMPARE(m_window->AlbumPath, album);
    QCOMPARE(m_window->album->text(), QStringLiteral("Huge"));
    QCOMPARE(m_window->AlbumChanged, qint16(1));
}

void TestAlbumCommands::saveShowsItsDialog()
{
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumPath = QStringLiteral(" /home/u/Old.alp");
    click(2);
    QCOMPARE(m_fake->dialogs.size(), size_t(1));
    const FakePlatform::DialogCall &call = m_fake->dialogs.front();
    QCOMPARE(call.kind, DialogKind::Save);
    QCOMPARE(call.dialog.CancelError, true);
    QCOMPARE(call.dialog.MaxFileSize, 15000);
    QCOMPARE(call.dialog.Flags, 0x80004);
    QCOMPARE(call.dialog.DialogTitle, QStringLiteral("Save Midi List to Album"));
    QCOMPARE(call.dialog.InitDir, QStringLiteral("/opt/quavrel/"));
    QCOMPARE(call.dialog.FileName, QStringLiteral(" /home/u/Old.alp"));
    QCOMPARE(call.dialog.Filter, QStringLiteral("Midi Album: *.alp|*.alp"));
}

void TestAlbumCommands::saveEmptyListDoesNothing()
{
    m_window->AlbumChanged = 1;
    click(2);
    QVERIFY(m_fake->dialogs.empty() && m_fake->messageBoxes.empty());
    QVERIFY(m_fake->commands.isEmpty() && m_fake->processEventsCalls == 0);
    QCOMPARE(m_window->AlbumChanged, qint16(1));

    // Also when Load's save question led to it: the Load dialog follows directly.
    m_fake->messageBoxAnswers.push_back(MsgBox::IdYes);
    click(1);
    QCOMPARE(m_fake->dialogs.size(), size_t(1));
    QCOMPARE(m_fake->dialogs.front().dialog.DialogTitle, QStringLiteral("Load Midi Album"));
}

void TestAlbumCommands::saveCancelledChangesNothing()
{
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    click(2);
    QVERIFY(m_fake->messageBoxes.empty());
    QCOMPARE(m_window->AlbumChanged, qint16(1));
    QCOMPARE(m_window->AlbumPath, QStringLiteral("/home/u/Old.alp"));
    QCOMPARE(m_window->album->text(), QStringLiteral("?"));
    QVERIFY(TestFiles::entries(m_dir->path()).isEmpty());
}

void TestAlbumCommands::saveWritesAlbumAndMarksSaved()
{
    const QString album = file(QStringLiteral("Mixtape"));
    addSongs({ QStringLiteral("/m/a.mid"), QStringLiteral("/m/Bach, J.S.mid"),
        QStringLiteral("bare.mid") });
    m_window->AlbumChanged = 1;
    QStringList seen;
    m_fake->onProcessEvents
        = [&] { seen.append(m_window->AlbumPath + QLatin1Char(' ') + m_window->album->text()); };
    choose(album);
    click(2);
    QVERIFY(m_fake->messageBoxes.empty());
    // Saved as typed, without an extension added; AlbumPath and caption set before events run.
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList { QStringLiteral("Mixtape") });
    QCOMPARE(TestFiles::read(album), QByteArray("/m/a.mid\r\n/m/Bach, J.S.mid\r\nbare.mid\r\n"));
    QCOMPARE(
        seen, (QStringList { album + QStringLiteral(" Mix"), album + QStringLiteral(" Mix") }));
    QCOMPARE(m_window->AlbumPath, album);
    QCOMPARE(m_window->album->text(), QStringLiteral("Mix"));
    QCOMPARE(m_window->AlbumChanged, qint16(0));
}

void TestAlbumCommands::saveReplacesExistingAlbumWithoutQuestion()
{
    const QString album = file(QStringLiteral("Rock.alp"));
    QVERIFY(TestFiles::write(album, "/old/1.mid\r\n/old/2.mid\r\n/old/3.mid\r\n/old/4.mid\r\n"));
    QVERIFY(QFile::setPermissions(album, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    addSongs({ QStringLiteral("/new/x.mid") });
    choose(album);
    click(2);
    QVERIFY(m_fake->messageBoxes.empty());
    QCOMPARE(TestFiles::read(album), QByteArray("/new/x.mid\r\n"));
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList { QStringLiteral("Rock.alp") });
    QCOMPARE(QFile::permissions(album),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
            | QFileDevice::WriteUser);
    QCOMPARE(m_window->album->text(), QStringLiteral("Rock"));
}

// Load, then Save with nothing changed: the dialog offers the loaded file and Save rewrites it,
// now with its lines trimmed and blank lines dropped.
void TestAlbumCommands::saveAfterLoadRewritesSameFile()
{
    const QString album = file(QStringLiteral("Loaded.alp"));
    QVERIFY(TestFiles::write(album, "  /m/a.mid \r\n\r\n/m/b.mid"));
    choose(album);
    click(1);
    QCOMPARE(m_fake->dialogs.size(), size_t(1));
    m_fake->dialogOutcomes.push_back({ 0, {}, album });
    click(2);
    QCOMPARE(m_fake->dialogs.back().dialog.FileName, album);
    QCOMPARE(TestFiles::read(album), QByteArray("/m/a.mid\r\n/m/b.mid\r\n"));
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList { QStringLiteral("Loaded.alp") });
}

// An album reached through a symbolic link is rewritten where the link points; the link stays.
void TestAlbumCommands::saveThroughSymbolicLinkKeepsLink()
{
    const QString target = file(QStringLiteral("Real.alp"));
    const QString link = file(QStringLiteral("Link.alp"));
    QVERIFY(TestFiles::write(target, "/old/1.mid\r\n"));
    QVERIFY(QFile::link(target, link));
    addSongs({ QStringLiteral("/new/x.mid") });
    choose(link);
    click(2);
    QVERIFY(m_fake->messageBoxes.empty());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(TestFiles::read(target), QByteArray("/new/x.mid\r\n"));
    QCOMPARE(TestFiles::entries(m_dir->path()), (QStringList { "Link.alp", "Real.alp" }));
    QCOMPARE(m_window->AlbumPath, link);
}

void TestAlbumCommands::saveUnderFourCharacterName()
{
    const QString album = file(QStringLiteral("rock"));
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    choose(album);
    click(2);
    QVERIFY(m_fake->messageBoxes.empty());
    QCOMPARE(m_window->album->text(), QString());
    QCOMPARE(TestFiles::read(album), QByteArray("/m/a.mid\r\n"));
    QCOMPARE(m_window->AlbumChanged, qint16(0));
}

void TestAlbumCommands::saveUnderThreeCharacterNameWritesNothing()
{
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    choose(file(QStringLiteral("abc")));
    click(2);
    QCOMPARE(m_fake->messageBoxes.size(), size_t(1));
    QCOMPARE(m_fake->messageBoxes.front().style, 4096);
    QCOMPARE(m_fake->messageBoxes.front().title, AppTitle);
    QVERIFY(TestFiles::entries(m_dir->path()).isEmpty());
    QCOMPARE(m_window->album->text(), QStringLiteral("?"));
    QCOMPARE(m_window->AlbumPath, QStringLiteral("/home/u/Old.alp"));
    QCOMPARE(m_window->AlbumChanged, qint16(1));
}

void TestAlbumCommands::saveFailsAtOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a folder") << QStringLiteral("Folder.alp");
    QTest::newRow("missing folder") << QStringLiteral("nowhere/Lost.alp");
    QTest::newRow("read-only file system") << QStringLiteral("/proc/Proc.alp");
}

// A failure at the open shows the new caption but keeps AlbumPath and AlbumChanged.
void TestAlbumCommands::saveFailsAtOpen()
{
    QFETCH(QString, name);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Folder.alp")));
    const QString target = name.startsWith(QLatin1Char('/')) ? name : file(name);
    addSongs({ QStringLiteral("/m/a.mid") });
    m_window->AlbumChanged = 1;
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    choose(target);
    click(2);
    QCOMPARE(m_fake->messageBoxes.size(), size_t(1));
    QCOMPARE(m_fake->messageBoxes.front().style, 4096);
    QVERIFY2(m_fake->messageBoxes.front().text.contains(target),
        qPrintable(m_fake->messageBoxes.front().text));
    QCOMPARE(m_window->album->text(), QFileInfo(target).completeBaseName());
    QCOMPARE(m_window->AlbumPath, QStringLiteral("/home/u/Old.alp"));
    QCOMPARE(m_window->AlbumChanged, qint16(1));
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList { QStringLiteral("Folder.alp") });
    QVERIFY(TestFiles::entries(file(QStringLiteral("Folder.alp"))).isEmpty());
}

void TestAlbumCommands::saveIntoReadOnlyFolderKeepsOldAlbum()
{
    if (::geteuid() == 0)
        QSKIP("a read-only folder does not stop root; the file-size limit test covers write "
              "failures");
    const QString folder = file(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    const QString album = folder + QStringLiteral("/Rock.alp");
    QVERIFY(TestFiles::write(album, "/old/1.mid\r\n"));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    addSongs({ QStringLiteral("/new/x.mid") });
    m_window->AlbumChanged = 1;
    choose(album);
    click(2);
    QVERIFY(QFile::setPermissions(
        folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QCOMPARE(m_fake->messageBoxes.size(), size_t(1));
    QCOMPARE(TestFiles::read(album), QByteArray("/old/1.mid\r\n"));
    QCOMPARE(TestFiles::entries(folder), QStringList { QStringLiteral("Rock.alp") });
    QCOMPARE(m_window->AlbumChanged, qint16(1));
}

// With a file-size limit below the new album's size every write past it fails (EFBIG, with
// SIGXFSZ ignored), as on a full disk. The old album must stay byte for byte, with no temporary
// file left beside it.
void TestAlbumCommands::saveFailingWhileWritingKeepsOldAlbum()
{
    const QString album = file(QStringLiteral("Rock.alp"));
    const QByteArray old = "/old/1.mid\r\n/old/2.mid\r\n";
    QVERIFY(TestFiles::write(album, old));
    QStringList paths;
    for (int i = 0; i < 2000; ++i)
        paths.append(QStringLiteral("/new/a rather long folder name/song number %1.mid").arg(i));
    addSongs(paths);
    m_window->AlbumChanged = 1;
    m_window->AlbumPath = QStringLiteral("/home/u/Old.alp");
    choose(album);

    rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    click(2);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(m_fake->messageBoxes.size(), size_t(1));
    QCOMPARE(m_fake->messageBoxes.front().style, 4096);
    QVERIFY(m_fake->messageBoxes.front().text.contains(album));
    QCOMPARE(TestFiles::read(album), old);
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList { QStringLiteral("Rock.alp") });
    QCOMPARE(m_window->AlbumPath, album);
    QCOMPARE(m_window->album->text(), QStringLiteral("Rock"));
    QCOMPARE(m_window->AlbumChanged, qint16(1));
}

QTEST_MAIN(TestAlbumCommands)
#include "test_album_commands.moc"
