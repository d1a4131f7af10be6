#pragma once

#include "platform/platform.h"

#include <QPointer>
#include <QWidget>

#include <functional>

// The platform on a Linux desktop: Qt message boxes and file dialogs, QSettings, QProcess.
class QtPlatform : public Platform
{
public:
    // The command sender handles the sequencer command strings; without one every command fails.
    using CommandSender = std::function<std::uint32_t(const QString &, QString *, int)>;

    QtPlatform() = default;
    explicit QtPlatform(CommandSender sender);

    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength) override;
    QString shortPathName(const QString &longPath) override;
    int messageBox(const QString &text, int style, const QString &title) override;
    DialogOutcome showFileDialog(DialogKind kind, const CommonDialog &dialog) override;
    QString getSetting(const QString &application, const QString &section, const QString &key,
        const QString &defaultValue) override;
    void saveSetting(const QString &application, const QString &section, const QString &key,
        const QString &value) override;
    QString programFolder() override;
    QStringList findVolumeControl() override;
    bool startProgram(const QStringList &commandLine) override;
    void setWaitCursor(bool busy) override;
    void processEvents() override;

    // The main window, which message boxes belong to, so that a box shown while Quavrel plays in
    // the background opens over its window; without one, the active window.
    void setWindow(QWidget *window) { m_window = window; }

    // Whether a window handler is letting pending events run at this moment (it is in the middle
    // of its work, and whatever runs now runs inside it).
    bool runsPendingEvents() const { return m_pendingEventsDepth > 0; }

    // The error code every command gets while no sequencer is attached.
    static constexpr std::uint32_t NoDeviceError = 263;

private:
    CommandSender m_sender;
    QPointer<QWidget> m_window;
    bool m_waitCursor = false;
    int m_pendingEventsDepth = 0;
};
