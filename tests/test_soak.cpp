// Long runs: a thousand songs back to back through the real device and audio thread, and ten
// thousand random user operations against the real window, with the memory each leaves behind.
#include "app/main_window.h"
#include "platform/sequencer_device.h"
#include "tests/support/fake_platform.h"
#include "tests/support/smf_builder.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <malloc.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUAVREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUAVREL_SANITIZED 1
#endif
#endif

namespace {

// Growth allowed over a soak. The target is 2 MB; the bound leaves room for allocator noise.
constexpr qint64 GrowthBound = 4 * 1024 * 1024;

// Resident memory in bytes, after handing freed heap pages back to the system.
qint64 residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

void checkGrowth(const char *what, qint64 before, qint64 after)
{
    qInfo("%s: resident memory %.2f MB -> %.2f MB (growth %+.3f MB)", what, before / 1048576.0,
        after / 1048576.0, (after - before) / 1048576.0);
#ifndef QUAVREL_SANITIZED
    QVERIFY2(after - before < GrowthBound, what);
#endif
}

QString mode(SequencerDevice &device)
{
    QString reply;
    if (device.sendCommand(QStringLiteral("status canyon mode"), &reply, 128) != 0)
        return QStringLiteral("failed");
    return reply;
}

enum Button { Add, Load, Save, Clear, Remove, Play, Next, Volume, UnselectAll, Invert };

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void thousandSongsBackToBack();
    void randomUserOperations();

private:
    // The random user's steps.
    void add();
    void drop();
    void move();
    void selectRow();
    void click(int button);
    QString song();
    void verifyConsistent(const QString &step);

    QTemporaryDir m_dir;
    QRandomGenerator m_random;
    QStringList m_songs;
    QStringList m_albums;
    std::unique_ptr<FakePlatform> m_fake;
    std::unique_ptr<Form1> m_form;
};

void TestSoak::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (int i = 0; i < 12; ++i) {
        m_songs.append(m_dir.filePath(QStringLiteral("song %1.mid").arg(i)));
        QVERIFY(SmfBuilder::writeFile(m_songs.last(), SmfBuilder::oneNoteSong(20 + i, 30 + i)));
    }
    // Songs that are gone by the time they play, and one with a name too short to cut.
    m_songs.append(m_dir.filePath(QStringLiteral("gone.mid")));
    m_songs.append(m_dir.filePath(QStringLiteral("x.MID")));
}

void TestSoak::thousandSongsBackToBack()
{
    if (SequencerDevice::soundFontPath().isEmpty())
        QSKIP("no SoundFont installed");
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qputenv("QUAVREL_AUDIO_DRIVER", "file");
    qint64 warm = 0;
    {
        SequencerDevice device(SequencerDevice::Output::Audio);
        for (int i = 0; i < 1000; ++i) {
            if (i == 100)
                warm = residentBytes();
            const QString command = QStringLiteral("open \"") + m_songs.at(i % 12)
                + QStringLiteral("\" type sequencer alias canyon");
            QCOMPARE(device.sendCommand(command, nullptr, 0), 0u);
            QCOMPARE(device.sendCommand(QStringLiteral("play canyon"), nullptr, 0), 0u);
            QCOMPARE(mode(device), QStringLiteral("playing"));
            QTRY_COMPARE_WITH_TIMEOUT(mode(device), QStringLiteral("stopped"), 5000);
            QCOMPARE(device.sendCommand(QStringLiteral("close canyon"), nullptr, 0), 0u);
        }
        checkGrowth("1000 songs", warm, residentBytes());
    }
    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(QFileInfo(m_dir.filePath(QStringLiteral("fluidsynth.wav"))).size() > 44);
}

QString TestSoak::song()
{
    return m_songs.at(int(m_random.bounded(qsizetype(m_songs.size()))));
}

void TestSoak::click(int button)
{
    QTest::mouseClick(m_form->Command1.at(button), Qt::LeftButton);
}

// Add: one file, several from one folder, or a cancel.
void TestSoak::add()
{
    const int kind = int(m_random.bounded(3));
    if (kind == 1) {
        m_fake->dialogOutcomes.push_back({ 0, {}, song() });
    } else if (kind == 2) {
        QString chosen = m_dir.path();
        for (int i = 0, n = 2 + int(m_random.bounded(4)); i < n; ++i)
            chosen += QChar(u'\0') + m_form->StripPath(song());
        m_fake->dialogOutcomes.push_back({ 0, {}, chosen });
    }
    click(Add);
}

void TestSoak::drop()
{
    // A disabled list takes no drop.
    if (!m_form->List2->isEnabled())
        return;
    QStringList paths;
    for (int i = 0, n = 1 + int(m_random.bounded(4)); i < n; ++i)
        paths.append(m_random.bounded(5) == 0 ? m_dir.path() : song());
    qint32 effect = 0;
    m_form->List2_OLEDragDrop(paths, effect, 1, 0, 0, 0);
}

QPoint rowCentre(SongListBox *list, int row)
{
    return list->visualItemRect(list->item(row)).center();
}

// Drags an entry a few rows up or down with the mouse.
void TestSoak::move()
{
    SongListBox *list = m_form->List2;
    const int count = list->count();
    if (count < 2)
        return;
    const int from = int(m_random.bounded(count));
    const int to = qBound(0, from + int(m_random.bounded(7)) - 3, count - 1);
    list->scrollToItem(list->item(from));
    QWidget *viewport = list->viewport();
    if (!viewport->rect().contains(rowCentre(list, to)))
        list->scrollToItem(list->item(to));
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(list, from));
    const int step = from < to ? 1 : -1;
    for (int row = from; row != to; row += step)
        QTest::mouseMove(viewport, rowCentre(list, row + step));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(list, to));
}

void TestSoak::selectRow()
{
    SongListBox *list = m_form->List2;
    if (list->count() == 0)
        return;
    const int row = int(m_random.bounded(list->count()));
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(list, row));
}

// The two lists in step, and the controls exactly as Idle or Playing leaves them.
void TestSoak::verifyConsistent(const QString &step)
{
    const QByteArray where = step.toUtf8();
    QVERIFY2(m_form->List1.count() == m_form->List2->count(), where);
    for (int row = 0; row < m_form->List1.count(); ++row) {
        const QString name = m_form->List2->item(row)->text();
        const QString shown = m_form->displayName(m_form->List1.item(row));
        QVERIFY2(name == shown || name == shown.chopped(qMin(4, shown.size())), where);
    }
    const bool playing = m_form->Command1.at(Play)->text() == QLatin1String("S&top");
    if (!playing)
        QVERIFY2(m_form->Command1.at(Play)->text() == QLatin1String("&Play"), where);
    for (int button : { Add, Load, Save, Clear, Remove, UnselectAll, Invert })
        QVERIFY2(m_form->Command1.at(button)->isEnabled() == !playing, where);
    QVERIFY2(m_form->PlySelOnly->isEnabled() == !playing, where);
    QVERIFY2(m_form->Random->isEnabled() == !playing, where);
    QVERIFY2(m_form->List2->isEnabled() == !playing, where);
    if (!playing && m_form->Timer1->isActive()) {
        // Play with nothing to play returns to Idle at its first tick but starts the timer
        // after it: the next tick stops it and changes nothing else.
        m_form->Timer1_Timer();
        QVERIFY2(m_form->Command1.at(Play)->text() == QLatin1String("&Play"), where);
    }
    QVERIFY2(m_form->Timer1->isActive() == playing, where);
    QVERIFY2(
        m_form->Command1.at(Play)->isEnabled() && m_form->Command1.at(Volume)->isEnabled(), where);
    QVERIFY2(
        m_form->Command1.at(Next)->isEnabled() == (playing && m_form->SkipRequested == 0), where);
    if (!playing)
        QVERIFY2(m_form->List3.count() == 0 && m_form->windowTitle() == AppTitle, where);
}

void TestSoak::randomUserOperations()
{
    const quint32 seed = qEnvironmentVariableIsSet("QUAVREL_SOAK_SEED")
        ? quint32(qEnvironmentVariableIntValue("QUAVREL_SOAK_SEED"))
        : 20261206;
    qInfo("seed %u (set QUAVREL_SOAK_SEED to repeat another)", seed);
    m_random.seed(seed);
    m_fake = std::make_unique<FakePlatform>();
    m_fake->folder = m_dir.path() + QLatin1Char('/');
    // The sequencer: an open fails for a missing file; a song plays for a few status queries.
    int pollsLeft = 0;
    m_fake->sequencer = [this, &pollsLeft](const QString &command, QString *reply) {
        if (command.startsWith(QLatin1String("open ")))
            return QFileInfo::exists(command.section(QLatin1Char(' '), 1, -5)) ? 0u : 275u;
        if (command.startsWith(QLatin1String("play ")))
            pollsLeft = int(m_random.bounded(4));
        if (command.startsWith(QLatin1String("close ")))
            pollsLeft = 0;
        if (command.startsWith(QLatin1String("status ")) && reply)
            *reply = pollsLeft-- > 0 ? QStringLiteral("playing") : QStringLiteral("stopped");
        return 0u;
    };
    m_form = std::make_unique<Form1>(*m_fake);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));

    qint64 warm = 0;
    int albumsSaved = 0;
    int playingSteps = 0;
    int opens = 0;
    int most = 0;
    for (int op = 0; op < 10000; ++op) {
        if (op == 1000)
            warm = residentBytes();
        // Keep the list short enough that every step stays quick.
        const int pick = int(m_random.bounded(m_form->List1.count() > 60 ? 15 : 13));
        QString step;
        switch (pick) {
        case 0:
        case 1:
            step = QStringLiteral("add");
            add();
            break;
        case 2:
        case 3:
            step = QStringLiteral("drop");
            drop();
            break;
        case 4:
            step = QStringLiteral("remove");
            m_fake->messageBoxAnswers.push_back(m_random.bounded(3) ? MsgBox::IdYes : MsgBox::IdNo);
            click(Remove);
            break;
        case 5:
            step = QStringLiteral("move");
            move();
            break;
        case 6:
            step = QStringLiteral("select");
            selectRow();
            break;
        case 7:
            step = QStringLiteral("play or stop");
            m_form->PlySelOnly->setChecked(m_form->PlySelOnly->isEnabled() && m_random.bounded(2));
            m_form->Random->setChecked(m_form->Random->isEnabled() && m_random.bounded(2));
            click(Play);
            break;
        case 8:
            step = QStringLiteral("next");
            click(Next);
            break;
        case 9:
            step = QStringLiteral("tick");
            if (m_form->Timer1->isActive())
                m_form->Timer1_Timer();
            break;
        case 10: {
            step = QStringLiteral("save");
            const QString path
                = m_dir.filePath(QStringLiteral("album %1.alp").arg(albumsSaved % 3));
            m_fake->dialogOutcomes.push_back({ 0, {}, path });
            click(Save);
            if (QFileInfo::exists(path) && !m_albums.contains(path))
                m_albums.append(path);
            ++albumsSaved;
            break;
        }
        case 11: {
            step = QStringLiteral("load");
            m_fake->messageBoxAnswers.push_back(MsgBox::IdNo);
            const QString path = m_albums.isEmpty() || m_random.bounded(5) == 0
                ? m_dir.filePath(QStringLiteral("none.alp"))
                : m_albums.at(int(m_random.bounded(qsizetype(m_albums.size()))));
            m_fake->dialogOutcomes.push_back({ 0, {}, path });
            click(Load);
            break;
        }
        case 12:
            step = QStringLiteral("select all or none");
            click(m_random.bounded(2) ? UnselectAll : Invert);
            break;
        default:
            step = QStringLiteral("clear");
            m_fake->messageBoxAnswers.push_back(MsgBox::IdYes);
            click(Clear);
            break;
        }
        // Answers and outcomes a disabled button never asked for are dropped.
        opens += int(m_fake->commands.filter(QRegularExpression(QStringLiteral("^open "))).size());
        m_fake->messageBoxAnswers.clear();
        m_fake->dialogOutcomes.clear();
        m_fake->messageBoxes.clear();
        m_fake->dialogs.clear();
        m_fake->commands.clear();
        verifyConsistent(QStringLiteral("operation %1 (%2)").arg(op).arg(step));
        if (QTest::currentTestFailed())
            return;
        playingSteps += m_form->Command1.at(Play)->text() == QLatin1String("S&top");
        most = qMax(most, int(m_form->List1.count()));
    }
    checkGrowth("10000 operations", warm, residentBytes());
    qInfo("%d steps ended Playing, %d songs opened, at most %d songs listed, %d albums saved",
        playingSteps, opens, most, albumsSaved);
    // Ten thousand steps that never play or never grow the list prove little.
    QVERIFY(playingSteps > 1000 && opens > 300 && most > 20);
    m_fake->messageBoxAnswers.push_back(MsgBox::IdNo);
    m_form.reset();
}

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
