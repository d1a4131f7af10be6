#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class Form1;
class QWidget;

// Brings a window to the front: out of the minimised state, raised and given the focus; while a
// message box or dialog is open over it, that comes to the front instead.
void bringToFront(QWidget &window);

// The window as a media player for the desktop's media keys and shell controls (MPRIS 2, under
// org.mpris.MediaPlayer2.quavrel). What it reports is read from the window's own controls, and
// every request presses the window's own button, so the window behaves as it always has; only
// pause and resume, which the window has no button for, go to its pause routines.
// PropertiesChanged follows the window's own changes (its title, the enabled state of the
// buttons, the song list, the poll timer's ticks) and the mixer's changes to the song's volume;
// an idle Quavrel sends nothing.
class MediaPlayer : public QObject, protected QDBusContext
{
    Q_OBJECT

public:
    // The requests of the media controls: Play starts as the Play button does, or resumes a
    // paused song; Pause pauses the song that plays; PlayPause does whichever of the two fits;
    // Stop presses the button while it reads "S&top", Next presses Next Song.
    enum class Request { Play, Pause, Stop, PlayPause, Next };

    // Watches the window; it becomes a child of the window. open plays files as a later start of
    // Quavrel hands them over.
    MediaPlayer(Form1 &window, std::function<void(const QStringList &files)> open);

    // Offers the player on the bus; false when another program owns the player's name.
    bool publish(const QDBusConnection &bus);

    QString playbackStatus() const;
    QVariantMap metadata() const;
    bool canPlay() const;
    bool canPause() const;
    bool canGoNext() const;
    // The song's place and volume, as the device has played it (microseconds, 0.0 to 1.0).
    qint64 position() const;
    double volume() const;
    void setVolume(double volume);
    // Moves the song; returns the new place, or -1 when nothing moved.
    qint64 seek(qint64 offset);
    qint64 setPosition(const QString &track, qint64 position);
    // Plays a file:// address of a .mid file; false for anything else.
    bool openUri(const QString &uri);

    // Requests run from the event loop, after the caller has had its reply.
    void request(Request what);
    void raise();
    void quit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the player reports, taken from the window.
    struct Shown
    {
        bool playing = false;
        bool paused = false;
        int track = -1;
        QString title;
        QString url;
        bool canPlay = false;
        bool canGoNext = false;
        qint64 length = 0;
        double volume = 1.0;
    };
    Shown shown() const;
    static QString statusOf(const Shown &state);
    static QVariantMap metadataOf(const Shown &state);
    void scheduleNotice();
    void notice();

    Form1 &m_window;
    std::function<void(const QStringList &)> m_open;
    QDBusConnection m_bus;
    Shown m_reported;
    bool m_noticePosted = false;
};
