#pragma once

#include "platform/platform.h"
#include "platform/qt_platform.h"

#include <QCoreApplication>
#include <QMap>
#include <QStringList>

#include <deque>
#include <functional>

// A scripted platform for tests: answers come from the queues and handlers a test sets, and
// every call is kept as a record (commands, messageBoxes, dialogs, settings, startedPrograms).
class FakePlatform : public Platform
{
public:
    struct MessageBoxCall
    {
        QString text;
        int style = 0;
        QString title;
    };

    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength) override;
    // The path as the program would put it into the open command.
    QString shortPathName(const QString &path) override { return QtPlatform().shortPathName(path); }
    int messageBox(const QString &text, int style, const QString &title) override;
    DialogOutcome showFileDialog(DialogKind kind, const CommonDialog &dialog) override;
    QString getSetting(const QString &application, const QString &section, const QString &key,
        const QString &defaultValue) override
    {
        return settings.value(application + u'/' + section + u'/' + key, defaultValue);
    }
    void saveSetting(const QString &application, const QString &section, const QString &key,
        const QString &value) override
    {
        settings.insert(application + u'/' + section + u'/' + key, value);
    }
    QString programFolder() override { return QStringLiteral("/opt/quavrel"); }
    QStringList findVolumeControl() override { return volumeControl; }
    bool startProgram(const QStringList &commandLine) override
    {
        startedPrograms.append(commandLine);
        return true;
    }
    void setWaitCursor(bool busy) override { waitCursor = busy; }
    void processEvents() override
    {
        ++processEventsCalls;
        QCoreApplication::processEvents();
        if (onProcessEvents)
            onProcessEvents();
    }
    std::uint32_t clockSeed() override { return seed++; }

    // The message boxes shown since the last call, each as its style, a blank and its text (and
    // its title, before a colon, when that is not the program's), joined by " | "; forgets them.
    QString takeBoxes();

    // The sequencer: every command succeeds, and "status canyon mode" answers mode.
    QString mode = QStringLiteral("stopped");
    QStringList commands;

    // Message boxes: answers taken from the front; an empty queue answers OK for OK-only boxes
    // and No for questions. onMessageBox runs while the box is "open".
    std::deque<int> messageBoxAnswers;
    std::vector<MessageBoxCall> messageBoxes;
    std::function<void()> onMessageBox;

    // File dialogs: outcomes taken from the front; an empty queue cancels.
    std::deque<DialogOutcome> dialogOutcomes;
    std::vector<CommonDialog> dialogs;

    // Settings, keyed "application/section/key".
    QMap<QString, QString> settings;

    QStringList volumeControl;
    QList<QStringList> startedPrograms;
    bool waitCursor = false;

    // processEvents lets the real pending events run, then onProcessEvents.
    int processEventsCalls = 0;
    std::function<void()> onProcessEvents;

    // Seeds handed out for shuffles: seed, seed + 1, ...
    std::uint32_t seed = 1;
};
