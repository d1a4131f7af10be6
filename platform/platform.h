#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>

// Message-box styles and answers, numbered as the Windows constants so that styles add up
// (4112 = system-modal 4096 + critical 16).
namespace MsgBox {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int SystemModal = 4096;
inline constexpr int IdOk = 1;
inline constexpr int IdYes = 6;
inline constexpr int IdNo = 7;
} // namespace MsgBox

// The properties of the shared open/save dialog. They persist between uses, as on a dialog
// component: a property that is not set again keeps what the last use left in it.
struct CommonDialog
{
    static constexpr int CancelErrorCode = 32755;
    static constexpr int OfnAllowMultiSelect = 0x200;

    bool CancelError = false;
    QString InitDir;
    int MaxFileSize = 260;
    int Flags = 0;
    QString FileName;
    QString Filter;
    QString DialogTitle;
};

// What a shown dialog gave back: error 0 with the chosen text, CancelErrorCode on cancel (when
// CancelError is set), or another code with a description.
struct DialogOutcome
{
    int error = 0;
    QString description;
    QString fileName;
};

enum class DialogKind { Open, Save };

// Every operating-system service the window uses goes through this interface, so that the
// window can be driven in tests by a scripted fake and in the program by the Qt/Linux one.
class Platform
{
public:
    virtual ~Platform() = default;

    // The error code of a command the device cannot answer yet ("status canyon soundfont" while
    // the SoundFont loads).
    static constexpr std::uint32_t NotReadyError = 276;

    // Sends a sequencer command string ("open <path> type sequencer alias canyon", "play canyon",
    // "close canyon", "status canyon mode", "set canyon soundfont <path>", "status canyon
    // soundfont"). Returns 0 on success, else an error code. When replyLength > 0 and reply is
    // given, the device's answer is stored in *reply (at most replyLength - 1 characters);
    // otherwise *reply is left alone.
    virtual std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength) = 0;

    // The form of a file path to put into the open command: the path unchanged when the file
    // exists, "" when it does not.
    virtual QString shortPathName(const QString &longPath) = 0;

    // Shows a modal message box with a style as the Windows constants add up (buttons + icon +
    // modality) and the given title; returns the button pressed (MsgBox::IdOk, IdYes, IdNo).
    virtual int messageBox(const QString &text, int style, const QString &title) = 0;

    // Shows the open or save file dialog with the given properties and waits for it to close.
    // Several files chosen at once come back as "folder NUL name NUL name ...".
    virtual DialogOutcome showFileDialog(DialogKind kind, const CommonDialog &dialog) = 0;

    // Reads a per-user setting (application, section, key); returns defaultValue when absent.
    virtual QString getSetting(const QString &application, const QString &section,
        const QString &key, const QString &defaultValue)
        = 0;

    // Writes a per-user setting, keeping the value exactly (leading and trailing spaces too).
    virtual void saveSetting(const QString &application, const QString &section, const QString &key,
        const QString &value)
        = 0;

    // The folder of the running program, without a trailing "/" unless it is the root.
    virtual QString programFolder() = 0;

    // The desktop's volume-control program as a command line (program first), or an empty list
    // when none is installed.
    virtual QStringList findVolumeControl() = 0;

    // Starts a program detached, in a normal window with focus; false when it cannot start.
    virtual bool startProgram(const QStringList &commandLine) = 0;

    // Sets the application-wide mouse pointer to the busy shape (true) or the default (false).
    // A state, not a stack: any number of calls with true are undone by one with false.
    virtual void setWaitCursor(bool busy) = 0;

    // Lets pending window events run (repaints, queued input, timer ticks) before returning.
    virtual void processEvents() = 0;

    // A seed for the shuffle, taken from the clock so that each shuffle differs.
    virtual std::uint32_t clockSeed()
    {
        return std::uint32_t(QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF);
    }
};
