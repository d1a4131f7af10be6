#include "app/main_window.h"
#include "platform/qt_platform.h"
#include "tests/support/fake_platform.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>

// The playback driver against a scripted sequencer: queue building, advancing, skipping,
// stopping, the control states and the Volume button.
class PlaybackTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void playsTheListInOrder();
    void playsSelectedSongsOnly();
    void shuffleQueuesEachCandidateOnce();
    void shuffleFirstPositionsAreUniform();
    void nextSongSkipsWithoutAskingTheSequencer();
    void nextSongThenStopLeavesSkipForNextPlay();
    void stopReturnsToIdleKeepingSelection();
    void missingAndEmptyFilesAreReportedAndPassed();
    void tickReenteredDuringMessageDoesNothing();
    void selectedOnlyWithNoSelectionEndsAtOnce();
    void captionDropsFourCharacters();
    void emptyListDoesNothing();
    void volumeStartsProgramAndLeavesPlaybackAlone();
    void volumeWithoutProgramSaysSo();
    void volumeControlFoundForTheDesktop();

private:
    QString makeSong(const QString &name, int bytes = 16);
    void addSongs(const QStringList &names);
    void clickPlay() { QTest::mouseClick(window->Command1.at(5), Qt::LeftButton); }
    void endCurrentSong() { playingPolls = 0; }
    void checkIdle();
    void checkPlaying();

    QTemporaryDir dir;
    FakePlatform *fake = nullptr;
    Form1 *window = nullptr;
    // The scripted sequencer: an open alias plays for playingPolls status queries.
    bool open = false;
    int playingPolls = 0;
    int pollsPerSong = 2;
};

void PlaybackTest::init()
{
    QVERIFY(dir.isValid());
    fake = new FakePlatform;
    fake->sequencer = [this](const QString &command, QString *reply) -> std::uint32_t {
        if (command == QLatin1String("close canyon")) {
            const bool wasOpen = open;
            open = false;
            return wasOpen ? 0 : 263;
        }
        if (command.startsWith(QLatin1String("open "))) {
            const QString path = command.mid(5, command.lastIndexOf(QLatin1String(" type ")) - 5);
            if (path.isEmpty() || open)
                return 275;
            open = true;
            playingPolls = 0;
            return 0;
        }
        if (command == QLatin1String("play canyon")) {
            if (!open)
                return 263;
            playingPolls = pollsPerSong;
            return 0;
        }
        if (command == QLatin1String("status canyon mode")) {
            if (!open)
                return 263;
            *reply = playingPolls > 0 ? QStringLiteral("  Playing") : QStringLiteral("stopped");
            if (playingPolls > 0)
                --playingPolls;
            return 0;
        }
        return 274;
    };
    window = new Form1(*fake);
    window->show();
    open = false;
}

void PlaybackTest::cleanup()
{
    delete window;
    delete fake;
}

QString PlaybackTest::makeSong(const QString &name, int bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray(bytes, 'x'));
    return path;
}

void PlaybackTest::addSongs(const QStringList &names)
{
    for (const QString &name : names) {
        const QString path = makeSong(name);
        QVERIFY(window->appendSong(path, window->displayName(path)));
    }
}

void PlaybackTest::checkIdle()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Quavrel v1.04"));
    QCOMPARE(window->Command1.at(5)->text(), QStringLiteral("&Play"));
    QVERIFY(!window->Command1.at(6)->isEnabled());
    for (int index : { 0, 1, 2, 3, 4, 5, 7, 8, 9 })
        QVERIFY2(window->Command1.at(index)->isEnabled(), qPrintable(QString::number(index)));
    QVERIFY(window->PlySelOnly->isEnabled());
    QVERIFY(window->Random->isEnabled());
    QVERIFY(window->List2->isEnabled());
    QVERIFY(!window->Timer1->isActive());
    QCOMPARE(window->List3.count(), 0);
    QVERIFY(!open);
}

void PlaybackTest::checkPlaying()
{
    QCOMPARE(window->Command1.at(5)->text(), QStringLiteral("S&top"));
    for (int index : { 0, 1, 2, 3, 4, 8, 9 })
        QVERIFY2(!window->Command1.at(index)->isEnabled(), qPrintable(QString::number(index)));
    QVERIFY(window->Command1.at(5)->isEnabled());
    QVERIFY(window->Command1.at(7)->isEnabled());
    QVERIFY(!window->PlySelOnly->isEnabled());
    QVERIFY(!window->Random->isEnabled());
    QVERIFY(!window->List2->isEnabled());
    QVERIFY(window->Timer1->isActive());
    QCOMPARE(window->Timer1->interval(), 1000);
}

void PlaybackTest::playsTheListInOrder()
{
    addSongs({ QStringLiteral("One.mid"), QStringLiteral("Two.mid"), QStringLiteral("Three.mid") });
    clickPlay();
    checkPlaying();
    QVERIFY(window->Command1.at(6)->isEnabled());
    QCOMPARE(window->windowTitle(), QStringLiteral("One"));
    QCOMPARE(window->List3.items(), window->List1.items());
    // The first song starts from Play's own tick, without waiting for the timer.
    QCOMPARE(fake->commands,
        QStringList({ QStringLiteral("status canyon mode"), QStringLiteral("close canyon"),
            QStringLiteral("open ") + dir.filePath(QStringLiteral("One.mid"))
                + QStringLiteral(" type sequencer alias canyon"),
            QStringLiteral("play canyon") }));

    // While it plays, a tick only asks.
    fake->commands.clear();
    window->Timer1_Timer();
    QCOMPARE(fake->commands, QStringList({ QStringLiteral("status canyon mode") }));
    QCOMPARE(window->windowTitle(), QStringLiteral("One"));

    for (const QString &next : { QStringLiteral("Two"), QStringLiteral("Three") }) {
        endCurrentSong();
        window->Timer1_Timer();
        QCOMPARE(window->windowTitle(), next);
        checkPlaying();
    }
    endCurrentSong();
    window->Timer1_Timer();
    checkIdle();
    QCOMPARE(fake->commands.last(), QStringLiteral("close canyon"));
    QVERIFY(!fake->waitCursor);
}

void PlaybackTest::playsSelectedSongsOnly()
{
    addSongs({ QStringLiteral("a.mid"), QStringLiteral("b.mid"), QStringLiteral("c.mid"),
        QStringLiteral("d.mid") });
    window->List2->setRowSelected(3, true);
    window->List2->setRowSelected(1, true);
    QTest::mouseClick(window->PlySelOnly, Qt::LeftButton);
    QVERIFY(window->PlySelOnly->isChecked());
    clickPlay();
    QCOMPARE(window->List3.items(),
        QStringList(
            { dir.filePath(QStringLiteral("b.mid")), dir.filePath(QStringLiteral("d.mid")) }));
    QCOMPARE(window->windowTitle(), QStringLiteral("b"));
}

void PlaybackTest::shuffleQueuesEachCandidateOnce()
{
    addSongs({ QStringLiteral("a.mid"), QStringLiteral("b.mid"), QStringLiteral("c.mid"),
        QStringLiteral("d.mid"), QStringLiteral("e.mid"), QStringLiteral("f.mid") });
    window->List2->setRowSelected(0, true);
    window->List2->setRowSelected(2, true);
    window->List2->setRowSelected(5, true);
    window->Random->setChecked(true);
    window->PlySelOnly->setChecked(true);
    QSet<QStringList> orders;
    for (int run = 0; run < 30; ++run) {
        clickPlay();
        QStringList queue = window->List3.items();
        orders.insert(queue);
        queue.sort();
        QCOMPARE(queue,
            QStringList({ dir.filePath(QStringLiteral("a.mid")),
                dir.filePath(QStringLiteral("c.mid")), dir.filePath(QStringLiteral("f.mid")) }));
        clickPlay();
        checkIdle();
    }
    // Reseeded at every Play: the six orders of three songs all turn up.
    QCOMPARE(orders.size(), 6);
    QCOMPARE(fake->logged(QStringLiteral("seed")).size(), 30);

    // A single candidate is queued without a draw.
    window->List2->setRowSelected(0, false);
    window->List2->setRowSelected(2, false);
    clickPlay();
    QCOMPARE(window->List3.items(), QStringList({ dir.filePath(QStringLiteral("f.mid")) }));
    QCOMPARE(fake->logged(QStringLiteral("seed")).size(), 30);
}

void PlaybackTest::shuffleFirstPositionsAreUniform()
{
    const int songs = 5;
    addSongs({ QStringLiteral("a.mid"), QStringLiteral("b.mid"), QStringLiteral("c.mid"),
        QStringLiteral("d.mid"), QStringLiteral("e.mid") });
    window->Random->setChecked(true);
    std::map<QString, int> firsts;
    const int runs = 2000;
    for (int run = 0; run < runs; ++run) {
        window->playCommand();
        ++firsts[window->List3.item(0)];
        window->playCommand();
    }
    QCOMPARE(int(firsts.size()), songs);
    double chiSquare = 0;
    const double expected = double(runs) / songs;
    for (const auto &[song, count] : firsts)
        chiSquare += (count - expected) * (count - expected) / expected;
    // 4 degrees of freedom: 18.47 is the 0.1 % point.
    QVERIFY2(chiSquare < 18.47, qPrintable(QString::number(chiSquare)));
}

void PlaybackTest::nextSongSkipsWithoutAskingTheSequencer()
{
    addSongs({ QStringLiteral("a.mid"), QStringLiteral("b.mid") });
    clickPlay();
    fake->commands.clear();
    QTest::mouseClick(window->Command1.at(6), Qt::LeftButton);
    QCOMPARE(fake->commands, QStringList({ QStringLiteral("close canyon") }));
    QCOMPARE(window->SkipRequested, qint16(1));
    QVERIFY(!window->Command1.at(6)->isEnabled());
    QVERIFY(fake->waitCursor);

    fake->commands.clear();
    window->Timer1_Timer();
    QVERIFY(!fake->commands.contains(QStringLiteral("status canyon mode")));
    QCOMPARE(window->windowTitle(), QStringLiteral("b"));
    QVERIFY(window->Command1.at(6)->isEnabled());
    QCOMPARE(window->SkipRequested, qint16(0));
    QVERIFY(!fake->waitCursor);

    // Next Song on the last song returns to Idle at the next tick.
    QTest::mouseClick(window->Command1.at(6), Qt::LeftButton);
    window->Timer1_Timer();
    checkIdle();
}

void PlaybackTest::nextSongThenStopLeavesSkipForNextPlay()
{
    addSongs({ QStringLiteral("a.mid"), QStringLiteral("b.mid") });
    clickPlay();
    QTest::mouseClick(window->Command1.at(6), Qt::LeftButton);
    clickPlay();
    checkIdle();
    QCOMPARE(window->SkipRequested, qint16(1));
    // The stop does not restore the pointer; the next Play's first tick does.
    QVERIFY(fake->waitCursor);

    fake->commands.clear();
    clickPlay();
    QVERIFY(!fake->commands.contains(QStringLiteral("status canyon mode")));
    QCOMPARE(window->windowTitle(), QStringLiteral("a"));
    QCOMPARE(window->SkipRequested, qint16(0));
    QVERIFY(!fake->waitCursor);
}

void PlaybackTest::stopReturnsToIdleKeepingSelection()
{
    addSongs({ QStringLiteral("a.mid"), QStringLiteral("b.mid") });
    window->List2->setRowSelected(1, true);
    window->Random->setChecked(true);
    clickPlay();
    QVERIFY(open);
    clickPlay();
    checkIdle();
    QVERIFY(window->List2->isRowSelected(1));
    QVERIFY(!window->List2->isRowSelected(0));
    QVERIFY(window->Random->isChecked());
    QCOMPARE(window->List1.count(), 2);
    // The interval stays at 1000 ms once Play has set it.
    QCOMPARE(window->Timer1->interval(), 1000);
}

void PlaybackTest::missingAndEmptyFilesAreReportedAndPassed()
{
    addSongs({ QStringLiteral("first.mid") });
    const QString missing = dir.filePath(QStringLiteral("gone.mid"));
    const QString empty = makeSong(QStringLiteral("empty.mid"), 0);
    window->appendSong(missing, window->displayName(missing));
    window->appendSong(empty, window->displayName(empty));
    clickPlay();
    QCOMPARE(window->windowTitle(), QStringLiteral("first"));

    for (const QString &path : { missing, empty }) {
        fake->commands.clear();
        endCurrentSong();
        window->Timer1_Timer();
        const FakePlatform::MessageBoxCall &box = fake->messageBoxes.back();
        QCOMPARE(box.text, QStringLiteral("The file ") + path + QStringLiteral(" was not found."));
        QCOMPARE(box.style, 4112);
        QCOMPARE(box.title, QStringLiteral("Quavrel v1.04"));
        // The caption keeps the last song found; the commands are sent all the same.
        QCOMPARE(window->windowTitle(), QStringLiteral("first"));
        QCOMPARE(fake->commands.mid(1, 3).size(), 3);
        QCOMPARE(fake->commands.at(1), QStringLiteral("close canyon"));
        QCOMPARE(fake->commands.at(3), QStringLiteral("play canyon"));
    }
    // The missing file has no short form: the open names no path.
    QCOMPARE(fake->logged(QStringLiteral("mci: open  type")).size(), 1);
    QCOMPARE(int(fake->messageBoxes.size()), 2);
    endCurrentSong();
    window->Timer1_Timer();
    checkIdle();
}

void PlaybackTest::tickReenteredDuringMessageDoesNothing()
{
    const QString missing = dir.filePath(QStringLiteral("gone.mid"));
    window->appendSong(missing, window->displayName(missing));
    addSongs({ QStringLiteral("second.mid") });
    int commandsDuringBox = -1;
    fake->onMessageBox = [&] {
        const qsizetype before = fake->commands.size();
        window->Timer1_Timer();
        window->Timer1_Timer();
        commandsDuringBox = int(fake->commands.size() - before);
    };
    clickPlay();
    QCOMPARE(commandsDuringBox, 0);
    QCOMPARE(window->CurrentSong, 0);
    QCOMPARE(window->TimerBusy, 0);
}

void PlaybackTest::selectedOnlyWithNoSelectionEndsAtOnce()
{
    addSongs({ QStringLiteral("a.mid") });
    window->PlySelOnly->setChecked(true);
    clickPlay();
    QCOMPARE(window->windowTitle(), QStringLiteral("Quavrel v1.04"));
    QCOMPARE(window->Command1.at(5)->text(), QStringLiteral("&Play"));
    QCOMPARE(window->List3.count(), 0);
    // Play switches the timer on after its direct tick; the next tick finds the queue used up.
    QVERIFY(window->Timer1->isActive());
    window->Timer1_Timer();
    checkIdle();
}

void PlaybackTest::captionDropsFourCharacters()
{
    addSongs({ QStringLiteral("Tune.midi"), QStringLiteral("ab") });
    clickPlay();
    QCOMPARE(window->windowTitle(), QStringLiteral("Tune."));
    endCurrentSong();
    window->Timer1_Timer();
    QCOMPARE(window->windowTitle(), QStringLiteral("ab"));
}

void PlaybackTest::emptyListDoesNothing()
{
    clickPlay();
    QVERIFY(fake->log.isEmpty());
    QCOMPARE(window->Command1.at(5)->text(), QStringLiteral("&Play"));
}

void PlaybackTest::volumeStartsProgramAndLeavesPlaybackAlone()
{
    fake->volumeControl = { QStringLiteral("/usr/bin/pavucontrol") };
    addSongs({ QStringLiteral("a.mid") });
    clickPlay();
    fake->commands.clear();
    QString labelWhileStarting;
    fake->volumeStarts = true;
    QTest::mouseClick(window->Command1.at(7), Qt::LeftButton);
    QCOMPARE(
        fake->startedPrograms, QList<QStringList>({ { QStringLiteral("/usr/bin/pavucontrol") } }));
    QCOMPARE(window->Label4->text(), QString());
    QVERIFY(fake->commands.isEmpty());
    QVERIFY(fake->messageBoxes.empty());
    checkPlaying();
}

void PlaybackTest::volumeWithoutProgramSaysSo()
{
    QTest::mouseClick(window->Command1.at(7), Qt::LeftButton);
    QCOMPARE(int(fake->messageBoxes.size()), 1);
    QCOMPARE(
        fake->messageBoxes.front().text, QStringLiteral("No volume control program was found."));
    QCOMPARE(fake->messageBoxes.front().style, 0);
    fake->volumeControl = { QStringLiteral("/nonexistent/mixer") };
    fake->volumeStarts = false;
    QTest::mouseClick(window->Command1.at(7), Qt::LeftButton);
    QCOMPARE(int(fake->messageBoxes.size()), 2);
    QCOMPARE(window->Label4->text(), QString());
}

void PlaybackTest::volumeControlFoundForTheDesktop()
{
    // The real search, over a PATH of stand-in programs.
    QTemporaryDir bin;
    for (const char *name : { "pavucontrol", "gnome-control-center", "mate-volume-control" }) {
        QFile program(bin.filePath(QString::fromLatin1(name)));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n");
        program.setPermissions(
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QByteArray oldPath = qgetenv("PATH");
    const QByteArray oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    qputenv("PATH", bin.path().toLocal8Bit());
    QtPlatform platform;
    qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    QCOMPARE(platform.findVolumeControl(),
        QStringList(
            { bin.filePath(QStringLiteral("gnome-control-center")), QStringLiteral("sound") }));
    qputenv("XDG_CURRENT_DESKTOP", "MATE");
    QCOMPARE(platform.findVolumeControl(),
        QStringList({ bin.filePath(QStringLiteral("mate-volume-control")) }));
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    QCOMPARE(
        platform.findVolumeControl(), QStringList({ bin.filePath(QStringLiteral("pavucontrol")) }));
    qputenv("PATH", "/nonexistent");
    QCOMPARE(platform.findVolumeControl(), QStringList());
    qputenv("PATH", oldPath);
    qputenv("XDG_CURRENT_DESKTOP", oldDesktop);
}

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
