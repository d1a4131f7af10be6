#include "app/main_window.h"
#include "tests/support/fake_platform.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// The paired path and name lists, the file-name routines and the save question.
class SongListTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void stripPath_data();
    void stripPath();
    void displayName_data();
    void displayName();
    void existsNeedsANonEmptyFile();
    void listsStayInStepUnderRandomEdits();
    void limitRefusesTheSongPastIt();
    void saveQuestion();

private:
    void checkInStep(const QStringList &expectedPaths);

    FakePlatform *fake = nullptr;
    Form1 *window = nullptr;
};

void SongListTest::init()
{
    fake = new FakePlatform;
    window = new Form1(*fake);
}

void SongListTest::cleanup()
{
    delete window;
    delete fake;
}

void SongListTest::stripPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("full path") << "/home/u/Music/Song.MID"
                               << "Song.MID";
    QTest::newRow("no folder") << "Song.mid"
                               << "Song.mid";
    QTest::newRow("ends in slash") << "/home/u/Music/"
                                   << "";
    QTest::newRow("slash first") << "/x.mid"
                                 << "x.mid";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("spaces kept") << "/a b/ c d .mid"
                                 << " c d .mid";
}

void SongListTest::stripPath()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(window->StripPath(path), name);
}

void SongListTest::displayName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("full path keeps extension and case") << "/home/u/Song.MID"
                                                        << "Song.MID";
    QTest::newRow("slash in first position is not searched") << "/x.mid"
                                                             << "";
    QTest::newRow("slash in second position is not searched") << "./x.mid"
                                                              << "";
    QTest::newRow("slash in third position counts") << "ab/a.mid"
                                                    << "a.mid";
    QTest::newRow("no slash") << "tune.mid"
                              << "";
    QTest::newRow("comma kept") << "/m/a,b.mid"
                                << "a,b.mid";
}

void SongListTest::displayName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(window->displayName(path), name);
}

void SongListTest::existsNeedsANonEmptyFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString empty = dir.filePath(QStringLiteral("empty.mid"));
    const QString full = dir.filePath(QStringLiteral("full song.mid"));
    QFile emptyFile(empty);
    QVERIFY(emptyFile.open(QIODevice::WriteOnly));
    emptyFile.close();
    QFile fullFile(full);
    QVERIFY(fullFile.open(QIODevice::WriteOnly));
    fullFile.write("MThd");
    fullFile.close();

    QVERIFY(window->Exists(full));
    QVERIFY(!window->Exists(empty));
    QVERIFY(!window->Exists(dir.filePath(QStringLiteral("missing.mid"))));
    QVERIFY(!window->Exists(QString()));
    QVERIFY(!window->Exists(dir.path()));
    QVERIFY(!window->Exists(QStringLiteral("/nonexistent-folder/\x01bad")));
    QVERIFY(fake->messageBoxes.empty());
}

void SongListTest::checkInStep(const QStringList &expectedPaths)
{
    QCOMPARE(window->List1.count(), window->List2->count());
    QCOMPARE(window->List1.items(), expectedPaths);
    for (int row = 0; row < window->List1.count(); ++row)
        QCOMPARE(window->List2->item(row)->text(), window->displayName(window->List1.item(row)));
}

void SongListTest::listsStayInStepUnderRandomEdits()
{
    // A model list of paths follows the same edits; after each, both lists must match it row for
    // row, with every name derived from its own path.
    QRandomGenerator random(20261206);
    QStringList model;
    for (int step = 0; step < 4000; ++step) {
        const int count = int(model.size());
        switch (random.bounded(5)) {
        case 0:
        case 1: {
            const QString path
                = QStringLiteral("/songs/%1/tune %2.mid").arg(random.bounded(5)).arg(step);
            QVERIFY(window->appendSong(path, window->displayName(path)));
            model.append(path);
            break;
        }
        case 2: {
            const int at = int(random.bounded(count + 1));
            const QString path = QStringLiteral("/moved/%1.mid").arg(step);
            QVERIFY(window->insertSong(at, path, window->displayName(path)));
            model.insert(at, path);
            break;
        }
        case 3: {
            // Out-of-range positions must change nothing.
            const int at = int(random.bounded(count + 2)) - 1;
            window->removeSong(at);
            if (at >= 0 && at < count)
                model.removeAt(at);
            break;
        }
        default:
            if (random.bounded(20) == 0) {
                window->clearSongs();
                model.clear();
            }
            break;
        }
        checkInStep(model);
        QCOMPARE(window->songCount(), int(model.size()));
    }
    QVERIFY(!window->insertSong(-1, QStringLiteral("/x/y.mid"), QStringLiteral("y.mid")));
    QVERIFY(!window->insertSong(
        window->songCount() + 1, QStringLiteral("/x/y.mid"), QStringLiteral("y.mid")));
    checkInStep(model);
}

void SongListTest::limitRefusesTheSongPastIt()
{
    for (int i = 0; i < Form1::MaxSongs; ++i)
        window->appendSong(QStringLiteral("/m/%1.mid").arg(i), QStringLiteral("%1.mid").arg(i));
    QCOMPARE(window->songCount(), 32767);
    QVERIFY(!window->appendSong(QStringLiteral("/m/over.mid"), QStringLiteral("over.mid")));
    QVERIFY(!window->insertSong(0, QStringLiteral("/m/over.mid"), QStringLiteral("over.mid")));
    QCOMPARE(window->List1.count(), 32767);
    QCOMPARE(window->List2->count(), 32767);
    QCOMPARE(window->List1.item(32766), QStringLiteral("/m/32766.mid"));
}

void SongListTest::saveQuestion()
{
    fake->messageBoxAnswers = { MsgBox::IdYes };
    QCOMPARE(window->askSaveQuestion(), MsgBox::IdYes);
    QCOMPARE(int(fake->messageBoxes.size()), 1);
    const FakePlatform::MessageBoxCall &box = fake->messageBoxes.front();
    QCOMPARE(box.text,
        QStringLiteral("Current album list has changed!\r\n\r\nDo you want to Save the changes?"));
    // Yes/No (4) with the question icon (32); Yes is the first button and so the default.
    QCOMPARE(box.style, 36);
    QCOMPARE(box.title, QStringLiteral("Quavrel v1.04"));
    QCOMPARE(window->askSaveQuestion(), MsgBox::IdNo);
}

QTEST_MAIN(SongListTest)
#include "test_song_list.moc"
