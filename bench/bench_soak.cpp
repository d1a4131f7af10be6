// Two soaks, each with the resident memory it leaves behind:
// - songs: a thousand short songs back to back through the real device and its audio thread
//   (FluidSynth's file driver, writing into a scratch folder);
// - operations: ten thousand random user operations on the real window (Add, drops, Remove,
//   drags, selection, Play, Stop, Next Song, ticks, Save, Load, Clear), driven by mouse events,
//   with the controls and the two lists checked after each one.
// Run offscreen (QT_QPA_PLATFORM=offscreen is set when unset): ./bench_soak [songs|operations]
// QUAVREL_SOAK_SEED repeats the operations with another seed. A growth figure is meaningful in a
// build without sanitizers only.

#include "app/main_window.h"
#include "midi/smf_writer.h"
#include "sequencer/sequencer_device.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <malloc.h>
#include <unistd.h>

namespace {

// Resident memory in MB, after handing freed heap pages back to the system.
double residentMb()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1048576.0
                             : -1;
}

void reportGrowth(const char *what, double before, double after)
{
    std::printf("%-32s resident %.2f MB -> %.2f MB, growth %+.3f MB (target under 2 MB)\n", what,
        before, after, after - before);
}

// Twelve songs of one short note, then a missing file and a name too short to lose its extension.
QStringList writeSongs(const QTemporaryDir &dir)
{
    QStringList songs;
    for (int i = 0; i < 12; ++i) {
        // 480 ticks per quarter note at the default 120 beats per minute: 0.96 ticks a millisecond.
        Smf::Song song;
        song.division = 480;
        const std::uint8_t noteOn[] { 0x90, 60, 100 };
        const std::uint8_t noteOff[] { 0x80, 60, 0 };
        song.append(0, noteOn);
        song.append(std::uint64_t((20 + i) * 0.96), noteOff);
        song.endTick = std::uint64_t((30 + i) * 0.96);
        const std::vector<std::uint8_t> bytes = Smf::writeSong(song);
        songs.append(dir.filePath(QStringLiteral("song %1.mid").arg(i)));
        QFile file(songs.last());
        if (!file.open(QIODevice::WriteOnly)
            || file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()))
                != qint64(bytes.size()))
            return {};
    }
    songs.append(dir.filePath(QStringLiteral("gone.mid")));
    songs.append(dir.filePath(QStringLiteral("x.MID")));
    return songs;
}

QString mode(SequencerDevice &device)
{
    QString reply;
    if (device.sendCommand(QStringLiteral("status canyon mode"), &reply, 128) != 0)
        return QStringLiteral("failed");
    return reply;
}

// A thousand songs, each opened, played to its end by the audio thread and closed.
int thousandSongs(const QStringList &songs, const QString &folder)
{
    if (SequencerDevice::soundFontPath().isEmpty()) {
        std::printf("songs: skipped, no SoundFont installed\n");
        return 0;
    }
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    qputenv("QUAVREL_AUDIO_DRIVER", "file");
    double warm = 0;
    QElapsedTimer clock;
    clock.start();
    {
        SequencerDevice device(SequencerDevice::Output::Audio);
        for (int i = 0; i < 1000; ++i) {
            if (i == 100)
                warm = residentMb();
            const QString command = QStringLiteral("open \"") + songs.at(i % 12)
                + QStringLiteral("\" type sequencer alias canyon");
            if (device.sendCommand(command, nullptr, 0) != 0
                || device.sendCommand(QStringLiteral("play canyon"), nullptr, 0) != 0
                || mode(device) != QStringLiteral("playing")) {
                std::printf("songs: FAILED, song %d did not start\n", i);
                return 1;
            }
            QElapsedTimer song;
            song.start();
            while (mode(device) == QStringLiteral("playing") && song.elapsed() < 5000)
                QThread::msleep(2);
            if (mode(device) != QStringLiteral("stopped")) {
                std::printf("songs: FAILED, song %d did not end within 5 s\n", i);
                return 1;
            }
            device.sendCommand(QStringLiteral("close canyon"), nullptr, 0);
        }
        reportGrowth("1000 songs (from song 100)", warm, residentMb());
    }
    std::printf("%-32s %.1f s, %.1f ms a song\n", "1000 songs took", clock.elapsed() / 1000.0,
        clock.elapsed() / 1000.0);
    QDir::setCurrent(previous);
    return 0;
}

// The platform for the random user: answers come from queues; the sequencer plays a song for a
// few status queries, and fails to open a file that is not there.
class ScriptedPlatform : public Platform
{
public:
    explicit ScriptedPlatform(QRandomGenerator &random)
        : m_random(random)
    { }

    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength) override
    {
        QString answer;
        if (command.startsWith(QLatin1String("open "))) {
            ++opens;
            if (!QFileInfo::exists(command.section(QLatin1Char(' '), 1, -5)))
                return 275;
        } else if (command.startsWith(QLatin1String("play "))) {
            m_pollsLeft = int(m_random.bounded(4));
        } else if (command.startsWith(QLatin1String("close "))) {
            m_pollsLeft = 0;
        } else if (command.startsWith(QLatin1String("status "))) {
            answer = m_pollsLeft-- > 0 ? QStringLiteral("playing") : QStringLiteral("stopped");
        }
        if (reply && replyLength > 0)
            *reply = answer.left(replyLength - 1);
        return 0;
    }
    QString shortPathName(const QString &longPath) override
    {
        return !longPath.isEmpty() && QFileInfo::exists(longPath) ? longPath : QString();
    }
    int messageBox(const QString &, int style, const QString &) override
    {
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return (style & 0xF) == MsgBox::YesNo ? MsgBox::IdNo : MsgBox::IdOk;
    }
    DialogOutcome showFileDialog(DialogKind, const CommonDialog &dialog) override
    {
        if (outcomes.empty()) {
            DialogOutcome cancelled;
            if (dialog.CancelError)
                cancelled.error = CommonDialog::CancelErrorCode;
            return cancelled;
        }
        DialogOutcome outcome = outcomes.front();
        outcomes.pop_front();
        return outcome;
    }
    QString getSetting(
        const QString &, const QString &, const QString &, const QString &defaultValue) override
    {
        return defaultValue;
    }
    void saveSetting(const QString &, const QString &, const QString &, const QString &) override {
    }
    QString programFolder() override { return folder; }
    QStringList findVolumeControl() override { return {}; }
    bool startProgram(const QStringList &) override { return false; }
    void setWaitCursor(bool) override { }
    void processEvents() override { QCoreApplication::processEvents(); }

    std::deque<int> answers;
    std::deque<DialogOutcome> outcomes;
    QString folder;
    int opens = 0;

private:
    QRandomGenerator &m_random;
    int m_pollsLeft = 0;
};

void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)),
        type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void click(QWidget *widget, QPoint at)
{
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

enum Button { Add, Load, Save, Clear, Remove, Play, Next, Volume, UnselectAll, Invert };

class RandomUser
{
public:
    RandomUser(const QTemporaryDir &dir, const QStringList &songs, quint32 seed)
        : m_dir(dir)
        , m_songs(songs)
        , m_random(seed)
        , m_platform(m_random)
        , m_form(m_platform)
    {
        m_platform.folder = dir.path() + QLatin1Char('/');
    }

    int run();

private:
    QString song() { return m_songs.at(int(m_random.bounded(qsizetype(m_songs.size())))); }
    void press(int button)
    {
        click(m_form.Command1.at(button), m_form.Command1.at(button)->rect().center());
    }
    QPoint rowCentre(int row)
    {
        return m_form.List2->visualItemRect(m_form.List2->item(row)).center();
    }
    void add();
    void drop();
    void move();
    void selectRow();
    QString inconsistency();

    const QTemporaryDir &m_dir;
    const QStringList &m_songs;
    QRandomGenerator m_random;
    ScriptedPlatform m_platform;
    Form1 m_form;
    QStringList m_albums;
};

// Add: one file, several from one folder, or a cancel.
void RandomUser::add()
{
    const int kind = int(m_random.bounded(3));
    if (kind == 1) {
        m_platform.outcomes.push_back({ 0, {}, song() });
    } else if (kind == 2) {
        QString chosen = m_dir.path();
        for (int i = 0, n = 2 + int(m_random.bounded(4)); i < n; ++i)
            chosen += QChar(u'\0') + m_form.StripPath(song());
        m_platform.outcomes.push_back({ 0, {}, chosen });
    }
    press(Add);
}

void RandomUser::drop()
{
    // A disabled list takes no drop.
    if (!m_form.List2->isEnabled())
        return;
    QStringList paths;
    for (int i = 0, n = 1 + int(m_random.bounded(4)); i < n; ++i)
        paths.append(m_random.bounded(5) == 0 ? m_dir.path() : song());
    qint32 effect = 0;
    m_form.List2_OLEDragDrop(paths, effect, 1, 0, 0, 0);
}

// Drags an entry a few rows up or down with the mouse.
void RandomUser::move()
{
    SongListBox *list = m_form.List2;
    const int count = list->count();
    if (count < 2)
        return;
    const int from = int(m_random.bounded(count));
    const int to = qBound(0, from + int(m_random.bounded(7)) - 3, count - 1);
    list->scrollToItem(list->item(from));
    QWidget *viewport = list->viewport();
    if (!viewport->rect().contains(rowCentre(to)))
        list->scrollToItem(list->item(to));
    sendMouse(viewport, QEvent::MouseButtonPress, rowCentre(from), Qt::LeftButton);
    const int step = from < to ? 1 : -1;
    for (int row = from; row != to; row += step)
        sendMouse(viewport, QEvent::MouseMove, rowCentre(row + step), Qt::LeftButton);
    sendMouse(viewport, QEvent::MouseButtonRelease, rowCentre(to), Qt::NoButton);
}

void RandomUser::selectRow()
{
    SongListBox *list = m_form.List2;
    if (list->count() == 0)
        return;
    const int row = int(m_random.bounded(list->count()));
    list->scrollToItem(list->item(row));
    click(list->viewport(), rowCentre(row));
}

// The two lists in step, and the controls exactly as Idle or Playing leaves them; "" when so.
QString RandomUser::inconsistency()
{
    if (m_form.List1.count() != m_form.List2->count())
        return QStringLiteral("the lists differ in length");
    for (int row = 0; row < m_form.List1.count(); ++row) {
        const QString name = m_form.List2->item(row)->text();
        const QString shown = m_form.displayName(m_form.List1.item(row));
        if (name != shown && name != shown.chopped(qMin(4, shown.size())))
            return QStringLiteral("row %1 shows %2 for %3").arg(row).arg(name, shown);
    }
    const bool playing = m_form.Command1.at(Play)->text() == QLatin1String("S&top");
    if (!playing && m_form.Command1.at(Play)->text() != QLatin1String("&Play"))
        return QStringLiteral("Play reads %1").arg(m_form.Command1.at(Play)->text());
    for (int button : { Add, Load, Save, Clear, Remove, UnselectAll, Invert }) {
        if (m_form.Command1.at(button)->isEnabled() == playing)
            return QStringLiteral("button %1 enabled while %2").arg(button).arg(playing);
    }
    if (m_form.PlySelOnly->isEnabled() == playing || m_form.Random->isEnabled() == playing
        || m_form.List2->isEnabled() == playing)
        return QStringLiteral("check boxes or list enabled while playing is %1").arg(playing);
    if (!playing && m_form.Timer1->isActive()) {
        // Play with nothing to play returns to Idle at its first tick but starts the timer after
        // it: the next tick stops it and changes nothing else.
        m_form.Timer1_Timer();
        if (m_form.Command1.at(Play)->text() != QLatin1String("&Play"))
            return QStringLiteral("a tick after an empty Play started playing");
    }
    if (m_form.Timer1->isActive() != playing)
        return QStringLiteral("the timer runs while playing is %1").arg(playing);
    if (!m_form.Command1.at(Play)->isEnabled() || !m_form.Command1.at(Volume)->isEnabled())
        return QStringLiteral("Play or Volume disabled");
    if (m_form.Command1.at(Next)->isEnabled() != (playing && m_form.SkipRequested == 0))
        return QStringLiteral("Next Song enabled wrongly");
    if (!playing && (m_form.List3.count() != 0 || m_form.windowTitle() != AppTitle))
        return QStringLiteral("Idle with a queue or a song title");
    return {};
}

int RandomUser::run()
{
    m_form.show();
    QCoreApplication::processEvents();
    double warm = 0;
    int albumsSaved = 0;
    int playingSteps = 0;
    int most = 0;
    QElapsedTimer clock;
    clock.start();
    for (int op = 0; op < 10000; ++op) {
        if (op == 1000)
            warm = residentMb();
        // Keep the list short enough that every step stays quick.
        const int pick = int(m_random.bounded(m_form.List1.count() > 60 ? 15 : 13));
        const char *step = "";
        switch (pick) {
        case 0:
        case 1:
            step = "add";
            add();
            break;
        case 2:
        case 3:
            step = "drop";
            drop();
            break;
        case 4:
            step = "remove";
            m_platform.answers.push_back(m_random.bounded(3) ? MsgBox::IdYes : MsgBox::IdNo);
            press(Remove);
            break;
        case 5:
            step = "move";
            move();
            break;
        case 6:
            step = "select";
            selectRow();
            break;
        case 7:
            step = "play or stop";
            m_form.PlySelOnly->setChecked(m_form.PlySelOnly->isEnabled() && m_random.bounded(2));
            m_form.Random->setChecked(m_form.Random->isEnabled() && m_random.bounded(2));
            press(Play);
            break;
        case 8:
            step = "next";
            press(Next);
            break;
        case 9:
            step = "tick";
            if (m_form.Timer1->isActive())
                m_form.Timer1_Timer();
            break;
        case 10: {
            step = "save";
            const QString path
                = m_dir.filePath(QStringLiteral("album %1.alp").arg(albumsSaved % 3));
            m_platform.outcomes.push_back({ 0, {}, path });
            press(Save);
            if (QFileInfo::exists(path) && !m_albums.contains(path))
                m_albums.append(path);
            ++albumsSaved;
            break;
        }
        case 11: {
            step = "load";
            m_platform.answers.push_back(MsgBox::IdNo);
            const QString path = m_albums.isEmpty() || m_random.bounded(5) == 0
                ? m_dir.filePath(QStringLiteral("none.alp"))
                : m_albums.at(int(m_random.bounded(qsizetype(m_albums.size()))));
            m_platform.outcomes.push_back({ 0, {}, path });
            press(Load);
            break;
        }
        case 12:
            step = "select all or none";
            press(m_random.bounded(2) ? UnselectAll : Invert);
            break;
        default:
            step = "clear";
            m_platform.answers.push_back(MsgBox::IdYes);
            press(Clear);
            break;
        }
        // Answers and outcomes a disabled button never asked for are dropped.
        m_platform.answers.clear();
        m_platform.outcomes.clear();
        const QString wrong = inconsistency();
        if (!wrong.isEmpty()) {
            std::printf(
                "operations: FAILED at operation %d (%s): %s\n", op, step, qPrintable(wrong));
            return 1;
        }
        playingSteps += m_form.Command1.at(Play)->text() == QLatin1String("S&top");
        most = qMax(most, int(m_form.List1.count()));
    }
    reportGrowth("10000 operations (from op 1000)", warm, residentMb());
    std::printf("%-32s %.1f s; %d steps ended Playing, %d songs opened, at most %d songs listed, "
                "%d albums saved\n",
        "10000 operations took", clock.elapsed() / 1000.0, playingSteps, m_platform.opens, most,
        albumsSaved);
    // Ten thousand steps that never play or never grow the list prove little.
    if (playingSteps <= 1000 || m_platform.opens <= 300 || most <= 20) {
        std::printf("operations: FAILED, too little happened\n");
        return 1;
    }
    m_platform.answers.push_back(MsgBox::IdNo);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir dir;
    const QStringList songs = writeSongs(dir);
    if (!dir.isValid() || songs.isEmpty()) {
        std::printf("cannot write the songs\n");
        return 1;
    }
    int failed = 0;
    if (only.isEmpty() || only == QLatin1String("songs"))
        failed += thousandSongs(songs, dir.path());
    if (only.isEmpty() || only == QLatin1String("operations")) {
        const quint32 seed = qEnvironmentVariableIsSet("QUAVREL_SOAK_SEED")
            ? quint32(qEnvironmentVariableIntValue("QUAVREL_SOAK_SEED"))
            : 20261206;
        std::printf("operations: seed %u\n", seed);
        RandomUser user(dir, songs, seed);
        failed += user.run();
    }
    return failed == 0 ? 0 : 1;
}
