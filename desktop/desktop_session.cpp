#include "desktop/desktop_session.h"

#include "app/main_window.h"
#include "desktop/media_player.h"
#include "platform/file_names.h"
#include "platform/qt_platform.h"

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEvent>
#include <QMenu>

#include <unistd.h>
#include <utility>

namespace {

const QString InstanceName = QStringLiteral("io.github.quavrel.Quavrel");
const QString InstancePath = QStringLiteral("/io/github/quavrel/Quavrel");
const QString InstanceInterface = QStringLiteral("io.github.quavrel.Quavrel");
// The running Quavrel answers at once; one that does not within this time counts as absent.
constexpr int HandOverTimeoutMs = 10000;
const QString FileScheme = QStringLiteral("file://");

// A file name as it goes over the bus, where a string must be UTF-8: the path itself when its
// bytes are UTF-8, else a file:// address with every byte but ASCII letters, digits, "-._~/"
// percent-encoded.
QString toBus(const QString &name)
{
    const QByteArray bytes = FileNames::encode(name);
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : FileNames::toFileUrl(name);
}

QString fromBus(const QString &file)
{
    if (!file.startsWith(FileScheme))
        return file;
    return FileNames::decode(
        QByteArray::fromPercentEncoding(file.sliced(FileScheme.size()).toUtf8()));
}

} // namespace

// io.github.quavrel.Quavrel: Open(files) of a later start, each an absolute path or a file://
// address.
class InstanceAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.quavrel.Quavrel")

public:
    explicit InstanceAdaptor(DesktopSession *session)
        : QDBusAbstractAdaptor(session)
        , m_session(session)
    { }

public Q_SLOTS:
    void Open(const QStringList &files) { m_session->open(files); }

private:
    DesktopSession *m_session;
};

DesktopSession::DesktopSession(const QStringList &files, QObject *parent)
    : QObject(parent)
    , m_pending(files)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The object first, so that a later start that finds the name also finds the method.
    new InstanceAdaptor(this);
    if (!bus.registerObject(InstancePath, this, QDBusConnection::ExportAdaptors)
        || bus.registerService(InstanceName))
        return;
    bus.unregisterObject(InstancePath);
    QDBusMessage open = QDBusMessage::createMethodCall(
        InstanceName, InstancePath, InstanceInterface, QStringLiteral("Open"));
    QStringList onBus;
    for (const QString &file : files)
        onBus.append(toBus(file));
    open << onBus;
    // Should the owner not answer as a Quavrel would, this one runs alone.
    m_handedOver
        = bus.call(open, QDBus::Block, HandOverTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

void DesktopSession::serve(Form1 &window, const QtPlatform &platform)
{
    m_window = &window;
    m_platform = &platform;
    // Delivery waits while a message box, a dialog or the pop-up menu is open; their closing
    // brings it back.
    window.installEventFilter(this);
    connect(window.organize, &QMenu::aboutToHide, this, &DesktopSession::postDelivery);

    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto *player = new MediaPlayer(window, [this](const QStringList &files) { open(files); });
        if (!player->publish(bus))
            delete player;
    }
    deliver();
}

void DesktopSession::open(const QStringList &files)
{
    for (const QString &file : files)
        m_pending.append(fromBus(file));
    if (m_window == nullptr)
        return;
    bringToFront(*m_window);
    postDelivery();
}

bool DesktopSession::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowUnblocked)
        postDelivery();
    return QObject::eventFilter(watched, event);
}

void DesktopSession::postDelivery()
{
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &DesktopSession::deliver, Qt::QueuedConnection);
}

// The waiting files play once the window is at rest: not while a message box, dialog or the
// pop-up menu is open, nor inside a handler that lets pending events run (tried again once it
// has gone on). Everything that waited plays as one queue, in the order it came.
void DesktopSession::deliver()
{
    m_deliveryPosted = false;
    if (m_window == nullptr || m_pending.isEmpty() || QApplication::activeModalWidget() != nullptr
        || QApplication::activePopupWidget() != nullptr)
        return;
    if (m_platform->runsPendingEvents()) {
        postDelivery();
        return;
    }
    QStringList files;
    for (const QString &path : std::exchange(m_pending, {})) {
        if (::access(FileNames::encode(path).constData(), F_OK) == 0)
            files.append(path);
    }
    m_window->playFiles(files);
}

#include "desktop_session.moc"
