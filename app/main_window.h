#pragma once

#include "platform/hidden_list.h"
#include "platform/platform.h"
#include "platform/song_list_box.h"

#include <QRandomGenerator>
#include <QWidget>

#include <array>
#include <utility>
#include <vector>

class QAction;
class QCheckBox;
class QContextMenuEvent;
class QIODevice;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

inline const QString AppTitle = QStringLiteral("Quavrel v1.04");
// Follows the song's name in the title while the song is paused.
inline const QString PausedMark = QStringLiteral(" (paused)");

// The one window of the program. It owns every control and every window-level variable; its
// handlers and routines are defined in the folder of the subsystem they serve:
// app/ (window, start-up, control states), playback/, songlist/ and album/.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // The song list holds at most this many songs (positions are 16-bit).
    static constexpr int MaxSongs = 32767;
    // The buttons that edit the song list or the album, and the selection ones: disabled while
    // a play queue plays.
    static constexpr std::array<int, 7> EditingButtons { 0, 1, 2, 3, 4, 8, 9 };

    explicit Form1(Platform &platform, QWidget *parent = nullptr);
    ~Form1() override;

    // Window events (app/).
    void Form_Load();
    void Form_QueryUnload(qint16 &Cancel, qint16 UnloadMode);
    void rememberAlbum();
    void Form_Paint();
    void Command1_Click(qint16 Index);

    // Control states (app/control_states.cpp).
    void ButsOn();

    // Playback (playback/).
    void Timer1_Timer();
    void playCommand();
    void playFiles(const QStringList &paths);
    void nextSongCommand();
    void pauseCommand();
    void resumeCommand();
    void endPause();
    qint64 songStatus(const QString &item);
    void seekCommand(qint64 ms);
    void setSongVolume(qint64 thousandths);
    void volumeCommand();
    QString GetShortName(const QString &sLongFileName);
    bool songIsPlaying();
    void sendMci(const QString &command);

    // Song list (songlist/).
    void List2_MouseDown(qint16 Button, qint16 Shift, float X, float Y);
    void List2_MouseUp(qint16 Button, qint16 Shift, float X, float Y);
    void List2_OLEDragDrop(
        const QStringList &Data, qint32 &Effect, qint16 Button, qint16 Shift, float X, float Y);
    void OrganizeList_Click(qint16 Index);
    void addCommand();
    void clearCommand();
    void removeCommand();
    qint32 BreakMultiApart(const QString &szWords, QStringList &szArray);
    bool addChosenFiles(const QString &chosen, QString &failure);
    std::vector<std::pair<int, int>> selectedSongRuns() const;
    int removeSelectedSongs();
    QString StripPath(const QString &path) const;
    bool Exists(const QString &path) const;
    QString displayName(const QString &path) const;
    int songCount() const;
    bool appendSong(const QString &path, const QString &name);
    bool insertSong(int position, const QString &path, const QString &name);
    void clearSongs();

    // Albums (album/).
    // What ReadAlbum did: read the album whole, read only its first MaxSongs songs (a failure
    // too), or failed.
    enum class AlbumRead { Whole, Cut, Failed };
    void loadCommand();
    void saveCommand();
    AlbumRead ReadAlbum(const QString &path, bool setAlbumPath, QString *failure);
    bool WriteAlbum(QIODevice &file);
    bool albumName(const QString &path, QString &name) const;
    int askSaveQuestion();

    // The SoundFont, chosen from the song list's menu (playback/soundfont_menu.cpp).
    void useRememberedSoundFont();
    void showSoundFont();
    void soundFontCommand();
    void systemSoundFontCommand();
    void chooseSoundFont(const QString &path);
    void watchSoundFont();

    // The platform this window runs on.
    Platform &platform() { return m_platform; }

    // Controls.
    HiddenList List1;
    SongListBox *List2 = nullptr;
    HiddenList List3;
    std::array<QPushButton *, 10> Command1 {};
    QCheckBox *PlySelOnly = nullptr;
    QCheckBox *Random = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *album = nullptr;
    QTimer *Timer1 = nullptr;
    CommonDialog Dlog;
    QMenu *organize = nullptr;
    std::array<QAction *, 2> OrganizeList {};
    // Below them: the SoundFont in use, which opens the SoundFont dialog, and the system's.
    QAction *SoundFontItem = nullptr;
    QAction *SystemSoundFontItem = nullptr;
    // Asks the sequencer, while a SoundFont chosen loads, whether it is in use.
    QTimer *SoundFontTimer = nullptr;

    // Window-level variables.
    QString AppFolder;
    QString AlbumPath;
    qint16 AlbumChanged = 0;
    QString LastAddFolder;
    qint16 MciResult = 0;
    QString MciReply;
    qint32 CurrentSong = 0;
    qint16 SkipRequested = 0;
    qint16 Paused = 0;
    qint32 TimerBusy = 0;
    QRandomGenerator Rnd;
    qint16 DragFromIndex = 0;
    QString DragName;
    QString DragPath;
    qint16 DragToIndex = 0;
    // The SoundFont remembered ("" for the system's), the one in use, and the one that loads.
    QString SoundFontChoice;
    QString SoundFontInUse;
    QString SoundFontWanted;

Q_SIGNALS:
    // The desktop's mixer changed the song's volume.
    void songVolumeChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void createSoundFontItems();
    void enterPlaying();
    void startQueue();
    void createControls();
    void createButtonsAndLists();
    void createLabels();
    void centreOnScreen();
    void connectEvents();

    Platform &m_platform;
};
