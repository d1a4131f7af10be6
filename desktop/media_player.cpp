#include "desktop/media_player.h"

#include "app/main_window.h"
#include "platform/file_names.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <sys/stat.h>

namespace {

const QString ObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString ServiceName = QStringLiteral("org.mpris.MediaPlayer2.quavrel");
const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// While a message box or dialog is open the window takes no clicks, so the player takes no
// requests either.
bool windowBlocked()
{
    return QApplication::activeModalWidget() != nullptr;
}

} // namespace

// org.mpris.MediaPlayer2: who the player is, and its window.
class MprisRoot : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ schemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)

public:
    explicit MprisRoot(MediaPlayer *player)
        : QDBusAbstractAdaptor(player)
        , m_player(player)
    { }

    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Quavrel"); }
    QString desktopEntry() const { return QStringLiteral("io.github.quavrel.Quavrel"); }
    // Local files, of the types the launcher entry declares.
    QStringList schemes() const { return { QStringLiteral("file") }; }
    QStringList mimeTypes() const
    {
        return { QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi") };
    }

public Q_SLOTS:
    void Raise() { m_player->raise(); }
    // The normal close, with its save question; none while a message box or dialog is open.
    void Quit() { m_player->quit(); }

private:
    MediaPlayer *m_player;
};

// org.mpris.MediaPlayer2.Player: the Play and Next Song buttons, pause, the song's place, the
// volume, and what the window shows. One speed only, no previous song.
class MprisPlayer : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanSeek READ canPause)
    Q_PROPERTY(bool CanControl READ yes)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(double Rate READ one WRITE setRate)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)

public:
    explicit MprisPlayer(MediaPlayer *player)
        : QDBusAbstractAdaptor(player)
        , m_player(player)
    { }

    QString playbackStatus() const { return m_player->playbackStatus(); }
    QVariantMap metadata() const { return m_player->metadata(); }
    bool canPlay() const { return m_player->canPlay(); }
    bool canPause() const { return m_player->canPause(); }
    bool canGoNext() const { return m_player->canGoNext(); }
    qlonglong position() const { return m_player->position(); }
    double volume() const { return m_player->volume(); }
    void setVolume(double volume) { m_player->setVolume(volume); }
    bool yes() const { return true; }
    bool no() const { return false; }
    double one() const { return 1.0; }
    void setRate(double) { }

public Q_SLOTS:
    void Play() { m_player->request(MediaPlayer::Request::Play); }
    void Previous() { }
    void Seek(qlonglong offset) { seeked(m_player->seek(offset)); }
    void SetPosition(const QDBusObjectPath &track, qlonglong position)
    {
        seeked(m_player->setPosition(track.path(), position));
    }
    void OpenUri(const QString &uri) { m_player->openUri(uri); }
    void Pause() { m_player->request(MediaPlayer::Request::Pause); }
    void PlayPause() { m_player->request(MediaPlayer::Request::PlayPause); }
    void Stop() { m_player->request(MediaPlayer::Request::Stop); }
    void Next() { m_player->request(MediaPlayer::Request::Next); }

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    void seeked(qint64 position)
    {
        if (position >= 0)
            Q_EMIT Seeked(position);
    }

    MediaPlayer *m_player;
};

void bringToFront(QWidget &window)
{
    if (window.isMinimized())
        window.showNormal();
    // A message box or dialog that is open stays in front of the window, to be answered first.
    QWidget &front = windowBlocked() ? *QApplication::activeModalWidget() : window;
    front.raise();
    front.activateWindow();
}

MediaPlayer::MediaPlayer(Form1 &window, std::function<void(const QStringList &)> open)
    : QObject(&window)
    , m_window(window)
    , m_open(std::move(open))
    , m_bus(QString())
{
    new MprisRoot(this);
    new MprisPlayer(this);
    // The Play button's caption changes together with the enabled state of "Play Selected
    // Songs" (Play and ButsOn write both), Next Song's state is its own, a song that starts
    // shows in the title, and a message box or dialog blocks the window.
    for (QObject *control :
        std::initializer_list<QObject *> { &window, window.Command1.at(6), window.PlySelOnly })
        control->installEventFilter(this);
    const QAbstractItemModel *songs = window.List2->model();
    connect(songs, &QAbstractItemModel::rowsInserted, this, &MediaPlayer::scheduleNotice);
    connect(songs, &QAbstractItemModel::rowsRemoved, this, &MediaPlayer::scheduleNotice);
    connect(songs, &QAbstractItemModel::modelReset, this, &MediaPlayer::scheduleNotice);
    // A tick can start a song of the same name as the last one, leaving the title unchanged.
    connect(window.Timer1, &QTimer::timeout, this, &MediaPlayer::scheduleNotice);
    connect(&window, &Form1::songVolumeChanged, this, &MediaPlayer::scheduleNotice);
    m_reported = shown();
}

bool MediaPlayer::publish(const QDBusConnection &bus)
{
    m_bus = bus;
    if (!m_bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    if (m_bus.registerService(ServiceName))
        return true;
    m_bus.unregisterObject(ObjectPath);
    return false;
}

MediaPlayer::Shown MediaPlayer::shown() const
{
    Shown state;
    state.playing = m_window.Command1.at(5)->text() != QLatin1String("&Play");
    state.paused = m_window.Paused == 1;
    state.canPlay = !windowBlocked() && m_window.songCount() > 0;
    state.canGoNext = !windowBlocked() && m_window.Command1.at(6)->isEnabled();
    const int song = m_window.CurrentSong;
    if (state.playing && song >= 0 && song < m_window.List3.count()) {
        state.track = song;
        state.title = m_window.windowTitle();
        if (state.paused)
            state.title.chop(PausedMark.size());
        state.url = FileNames::toFileUrl(m_window.List3.item(song));
        state.length = std::max<qint64>(m_window.songStatus(QStringLiteral("length")), 0) * 1000;
    }
    const qint64 volume = m_window.songStatus(QStringLiteral("volume"));
    state.volume = volume >= 0 ? double(volume) / 1000 : 1.0;
    return state;
}

// The song last started, titled as the window shows it, with its length once it has been read;
// no song, no entries.
QVariantMap MediaPlayer::metadataOf(const Shown &state)
{
    if (state.track < 0)
        return {};
    QVariantMap metadata {
        { QStringLiteral("mpris:trackid"),
            QVariant::fromValue(QDBusObjectPath(
                QStringLiteral("/io/github/quavrel/Quavrel/Queue/%1").arg(state.track))) },
        { QStringLiteral("xesam:title"), state.title },
        { QStringLiteral("xesam:url"), state.url },
    };
    if (state.length > 0)
        metadata.insert(QStringLiteral("mpris:length"), state.length);
    return metadata;
}

QString MediaPlayer::statusOf(const Shown &state)
{
    if (state.paused)
        return QStringLiteral("Paused");
    return state.playing ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QString MediaPlayer::playbackStatus() const
{
    return statusOf(shown());
}

QVariantMap MediaPlayer::metadata() const
{
    return metadataOf(shown());
}

bool MediaPlayer::canPlay() const
{
    return shown().canPlay;
}

// While a song plays or is paused.
bool MediaPlayer::canPause() const
{
    const Shown state = shown();
    return state.canPlay && state.playing;
}

bool MediaPlayer::canGoNext() const
{
    return shown().canGoNext;
}

qint64 MediaPlayer::position() const
{
    return shown().track >= 0
        ? std::max<qint64>(m_window.songStatus(QStringLiteral("position")), 0) * 1000
        : 0;
}

double MediaPlayer::volume() const
{
    return shown().volume;
}

// The volume on PulseAudio's scale, as the desktop's mixer shows it in percent.
void MediaPlayer::setVolume(double volume)
{
    m_window.setSongVolume(qRound64(std::clamp(volume, 0.0, 1.0) * 1000));
    scheduleNotice();
}

// From the place the song has reached; before its start is its start, past its end its end.
qint64 MediaPlayer::seek(qint64 offset)
{
    if (!canPause())
        return -1;
    const qint64 length = shown().length;
    const qint64 to = std::clamp<qint64>(position() + offset, 0, length > 0 ? length : 0);
    m_window.seekCommand(to / 1000);
    return to;
}

// Only within the song the track names.
qint64 MediaPlayer::setPosition(const QString &track, qint64 position)
{
    const Shown state = shown();
    if (!canPause() || position < 0 || position > state.length
        || metadataOf(state).value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path()
            != track)
        return -1;
    m_window.seekCommand(position / 1000);
    return position;
}

// The address's path is taken byte for byte, as names are. Anything else is refused, with an
// error to the caller on the bus.
bool MediaPlayer::openUri(const QString &uri)
{
    const QUrl url(uri);
    const QString path = FileNames::fromFileUrl(url);
    struct stat info = {};
    if (!path.endsWith(QLatin1String(".mid"), Qt::CaseInsensitive)
        || ::stat(FileNames::encode(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::InvalidArgs,
                QStringLiteral("Quavrel plays only local .mid files: %1").arg(uri));
        return false;
    }
    m_open({ path });
    return true;
}

// Play starts or resumes, Pause pauses and Stop stops, each only where it can; PlayPause pauses
// a song that plays and otherwise is Play; Next presses its button. A disabled button ignores the
// click, as it ignores the mouse.
void MediaPlayer::request(Request what)
{
    QMetaObject::invokeMethod(
        this,
        [this, what] {
            if (windowBlocked())
                return;
            const Shown state = shown();
            const Request action = what != Request::PlayPause ? what
                : state.playing && !state.paused              ? Request::Pause
                                                              : Request::Play;
            if (action == Request::Play && state.paused)
                m_window.resumeCommand();
            else if (action == Request::Pause)
                m_window.pauseCommand();
            else if ((action == Request::Play && !state.playing)
                || (action == Request::Stop && state.playing))
                m_window.Command1.at(5)->click();
            else if (action == Request::Next)
                m_window.Command1.at(6)->click();
        },
        Qt::QueuedConnection);
}

void MediaPlayer::raise()
{
    QMetaObject::invokeMethod(
        this, [this] { bringToFront(m_window); }, Qt::QueuedConnection);
}

void MediaPlayer::quit()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!windowBlocked())
                m_window.close();
        },
        Qt::QueuedConnection);
}

bool MediaPlayer::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::EnabledChange:
    case QEvent::WindowTitleChange:
    case QEvent::WindowBlocked:
    case QEvent::WindowUnblocked:
        scheduleNotice();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// Changes come in bursts (a state change touches many controls); one notice after the burst
// reports the settled state.
void MediaPlayer::scheduleNotice()
{
    if (m_noticePosted)
        return;
    m_noticePosted = true;
    QMetaObject::invokeMethod(this, &MediaPlayer::notice, Qt::QueuedConnection);
}

void MediaPlayer::notice()
{
    m_noticePosted = false;
    const Shown now = shown();
    QVariantMap changed;
    if (now.playing != m_reported.playing || now.paused != m_reported.paused)
        changed.insert(QStringLiteral("PlaybackStatus"), statusOf(now));
    if (now.track != m_reported.track || now.title != m_reported.title || now.url != m_reported.url
        || now.length != m_reported.length)
        changed.insert(QStringLiteral("Metadata"), metadataOf(now));
    if (now.canPlay != m_reported.canPlay)
        changed.insert(QStringLiteral("CanPlay"), now.canPlay);
    // Pausing and seeking are possible together: while a song plays or is paused.
    if ((now.canPlay && now.playing) != (m_reported.canPlay && m_reported.playing)) {
        changed.insert(QStringLiteral("CanPause"), now.canPlay && now.playing);
        changed.insert(QStringLiteral("CanSeek"), now.canPlay && now.playing);
    }
    if (now.canGoNext != m_reported.canGoNext)
        changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    if (now.volume != m_reported.volume)
        changed.insert(QStringLiteral("Volume"), now.volume);
    m_reported = now;
    if (changed.isEmpty() || !m_bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(ObjectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

#include "media_player.moc"
