#pragma once

#include "platform/platform.h"

#include <QMap>
#include <QStringList>

#include <deque>
#include <functional>

// A scripted platform for tests: answers come from queues and handlers set by the test, and
// every call is recorded in order in log, one line each ("mci: play canyon", "msgbox 36: ...").
class FakePlatform : public Platform
{
public:
    struct MessageBoxCall
    {
        QString text;
        int style = 0;
        QString title;
    };
    struct DialogCall
    {
        DialogKind kind = DialogKind::Open;
        CommonDialog dialog;
    };

    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength) override;
    QString shortPathName(const QString &longPath) override;
    int messageBox(const QString &text, int style, const QString &title) override;
    DialogOutcome showFileDialog(DialogKind kind, const CommonDialog &dialog) override;
    QString getSetting(const QString &application, const QString &section, const QString &key,
        const QString &defaultValue) override;
    void saveSetting(const QString &application, const QString &section, const QString &key,
        const QString &value) override;
    QString programFolder() override { return folder; }
    QStringList findVolumeControl() override;
    bool startProgram(const QStringList &commandLine) override;
    void setWaitCursor(bool busy) override;
    void processEvents() override;
    std::uint32_t clockSeed() override;

    // The log lines that start with prefix, in order.
    QStringList logged(const QString &prefix) const;

    QStringList log;

    // Sequencer: the handler answers each command; by default every command succeeds and the
    // mode is "stopped".
    std::function<std::uint32_t(const QString &command, QString *reply)> sequencer;
    QStringList commands;

    // Message boxes: answers taken from the front; an empty queue answers OK for OK-only boxes
    // and No for questions. onMessageBox runs while the box is "open".
    std::deque<int> messageBoxAnswers;
    std::vector<MessageBoxCall> messageBoxes;
    std::function<void()> onMessageBox;

    // File dialogs: outcomes taken from the front; an empty queue cancels.
    std::deque<DialogOutcome> dialogOutcomes;
    std::vector<DialogCall> dialogs;

    // Settings, keyed "application/section/key".
    QMap<QString, QString> settings;

    QString folder = QStringLiteral("/opt/quavrel");
    QStringList volumeControl;
    bool volumeStarts = true;
    QList<QStringList> startedPrograms;

    bool waitCursor = false;
    int processEventsCalls = 0;
    // Runs on every processEvents call, after the real pending events.
    std::function<void()> onProcessEvents;
    // Whether processEvents lets the real Qt events run.
    bool runRealEvents = true;

    // Seeds handed out for shuffles: seed, seed + 1, ...
    std::uint32_t seed = 1;
};
