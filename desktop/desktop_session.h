#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class Form1;
class QtPlatform;

// Quavrel on the desktop's session bus. The first Quavrel owns io.github.quavrel.Quavrel and
// takes the files of every later start through its Open method; a later start hands its files
// over and ends, so two windows never write the remembered album. The first one also offers the
// media player (MPRIS 2) unless another program owns its name. Without a session bus Quavrel
// runs alone, as it always has.
class DesktopSession : public QObject
{
    Q_OBJECT

public:
    // Becomes the one running Quavrel, unless one already runs: then the files go to it.
    explicit DesktopSession(const QStringList &files, QObject *parent = nullptr);

    // Whether a running Quavrel took the files, so that this one has nothing more to do.
    bool handedOver() const { return m_handedOver; }

    // Serves the window, once it has loaded: plays the files given so far and offers the media
    // player.
    void serve(Form1 &window, const QtPlatform &platform);

    // Files from a later start, as they come over the bus, to play when the window is at rest;
    // the window comes to the front. Files that do not exist are skipped.
    void open(const QStringList &files);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void postDelivery();
    void deliver();

    QPointer<Form1> m_window;
    const QtPlatform *m_platform = nullptr;
    QStringList m_pending;
    bool m_handedOver = false;
    bool m_deliveryPosted = false;
};
