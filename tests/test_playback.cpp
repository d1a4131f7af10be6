// The playback driver against the fake platform's sequencer, which answers "status canyon mode"
// with the mode a test sets: the play queue, Next Song and Stop, the re-entered tick, the Idle
// and Playing states, the shuffle, and the Volume button with the real search for a program.

#include "app/main_window.h"
#include "platform/qt_platform.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/smf_builder.h"
#include "tests/support/test_device.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>
#include <memory>

using namespace Qt::StringLiterals;

// The real sequencer device behind the platform, rendering offline.
struct DevicePlatform : FakePlatform
{
    TestDevice device { SequencerDevice::Output::Offline };
    std::uint32_t sendCommand(const QString &command, QString *reply, int replyLength) override
    {
        return device.sendCommand(command, reply, replyLength);
    }
};

class TestPlayback : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<Form1> form;

    // Songs in the temporary folder, blank-separated: a name starting "gone" is never written,
    // one starting "empty" has no bytes, one ending in "*" is selected.
    void add(const QString &songs)
    {
        for (QString name : songs.split(u' ', Qt::SkipEmptyParts)) {
            const bool selected = name.endsWith(u'*');
            const QString path = dir.filePath(name.remove(u'*'));
            QVERIFY(name.startsWith("gone")
                || TestFiles::write(path, name.startsWith("empty") ? "" : "MThd"));
            QVERIFY(form->appendSong(path, name));
            form->List2->item(form->songCount() - 1)->setSelected(selected);
        }
    }
    void press(int button) { QTest::mouseClick(form->Command1.at(button), Qt::LeftButton); }
    // "Idle", or the title while Playing, when every control, the timer, the queue and the
    // sequencer agree with that state, else "-"; then " busy" while the pointer is the hourglass,
    // and after " | " the message boxes shown, if any.
    QString state() const
    {
        const bool playing = form->Command1.at(5)->text() == QLatin1String("S&top");
        QList<bool> idle { form->PlySelOnly->isEnabled(), form->Random->isEnabled(),
            form->List2->isEnabled(), !form->Command1.at(6)->isEnabled(),
            form->Timer1->isActive() == form->windowTitle().endsWith(PausedMark),
            form->windowTitle() == AppTitle, form->List3.count() == 0,
            fake->commands.value(fake->commands.size() - 1, "close canyon") == "close canyon" };
        for (int index : { 0, 1, 2, 3, 4, 8, 9 })
            idle << form->Command1.at(index)->isEnabled();
        QString state = playing ? form->windowTitle() : QStringLiteral("Idle");
        if (idle.count(!playing) != idle.size() || !form->Command1.at(7)->isEnabled())
            state = QStringLiteral("-");
        const QString boxes = fake->takeBoxes().remove(dir.path() + u'/');
        return state + (fake->waitCursor ? " busy" : "") + (boxes.isEmpty() ? "" : " | " + boxes);
    }

private Q_SLOTS:
    void init()
    {
        form.reset();
        fake = std::make_unique<FakePlatform>();
        form = std::make_unique<Form1>(*fake);
        form->show();
    }

    void play_data()
    {
        // The songs (see add()), then steps, each "action=state": "Play" or "Next" pressed, a
        // "tick" while the song plays, the "end" of the song and the tick after it, "selected"
        // ticks Play Selected Songs. Until the first tick the device says "stopped", after it
        // what the last tick found.
        QTest::addColumn<QString>("script");
        QTest::newRow("whole list") << "1.mid 2.mid* 3.mid: Play=1, tick=1, end=2, end=3, end=Idle";
        QTest::newRow("selected") << "a.mid b.mid* c.mid d.mid*: selected, Play=b, end=d, end=Idle";
        QTest::newRow("none selected") << "a.mid: selected, Play=-, end=Idle";
        QTest::newRow("four characters") << "Tune.midi ab: Play=Tune., end=ab, end=Idle";
        QTest::newRow("missing, empty")
            << "1.mid gone.mid empty.mid 4.mid: Play=1, end=1 | 4112 The file gone.mid was not "
               "found., end=1 | 4112 The file empty.mid was not found., end=4, end=Idle";
        QTest::newRow("empty list") << ": Play=Idle";
        QTest::newRow("Next Song")
            << "0.mid 1.mid*: Play=0, tick=0, Next=- busy, tick=1, Next=- busy, tick=Idle";
        QTest::newRow("then Stop") << "0.mid* 1.mid: Play=0, tick=0, Next, Play=Idle busy, Play=0";
        QTest::newRow("Stop") << "0.mid 1.mid*: Play=0, tick=0, Play=Idle";
        QTest::newRow("shuffle") << "0.mid 1.mid 2.mid: random, shuffle=Idle";
        QTest::newRow("paused")
            << "1.mid 2.mid: Play=1, Pause=1 (paused), Pause=1 (paused), Resume=1, end=2, end=Idle";
        QTest::newRow("paused, Next Song") << "0.mid 1.mid: Play=0, Pause, Next=- busy, tick=1";
        QTest::newRow("paused, Stop") << "0.mid: Play=0, Pause, Play=Idle, Pause=Idle, Resume=Idle";
        QTest::newRow("subset") << "0.mid* 1.mid 2.mid* 3.mid*: selected, random, shuffle=Idle";
    }
    // The first song starts from Play at once, the next when a tick finds the song ended; Next
    // Song stops the song and the next tick starts the following one without asking the
    // sequencer. Ticks that come while the missing-file message shows do nothing. The
    // selection stays as it was.
    void play()
    {
        QFETCH(QString, script);
        const QString songs = script.section(u':', 0, 0);
        add(songs);
        fake->onMessageBox = [this] {
            const qsizetype before = fake->commands.size();
            form->Timer1_Timer();
            QCOMPARE(fake->commands.size(), before);
        };
        for (const QString &step : script.section(": ", 1).split(", ")) {
            const QString action = step.section(u'=', 0, 0);
            if (action == "tick" || action == "end")
                fake->mode = QString::fromLatin1(action == "end" ? "stopped" : "playing");
            if (action == "selected" || action == "random")
                (action == "selected" ? form->PlySelOnly : form->Random)->setChecked(true);
            if (action == "shuffle") {
                // Every press of Play reseeds from the clock and draws a fresh order: each of the
                // six orders of the three candidates turns up, equally often (five degrees of
                // freedom: 20.52 is the 0.1 % point of the chi-square distribution).
                std::map<QStringList, int> orders;
                for (int i = 0; i < 600; ++i) {
                    form->Command1_Click(5);
                    ++orders[form->List3.items()];
                    form->Command1_Click(5);
                }
                double chiSquare = 0;
                for (const auto &[order, count] : orders)
                    chiSquare += (count - 100.0) * (count - 100.0) / 100.0;
                QVERIFY2(orders.size() == 6 && chiSquare < 20.52 && fake->seed == 601,
                    qPrintable(QString::number(chiSquare)));
            }
            if (action == "Play" || action == "Next")
                press(action == "Play" ? 5 : 6);
            if (action == "Pause" || action == "Resume")
                action == "Pause" ? form->pauseCommand() : form->resumeCommand();
            if (action == "tick" || action == "end")
                form->Timer1_Timer();
            // Next Song closes the song; pause and resume go to a song that plays or is paused.
            const QString sent = action == "Next" || step.endsWith("Idle") ? "close" : action;
            if (action == "Next" || action == "Pause" || action == "Resume")
                QCOMPARE(fake->commands.last(), sent.toLower() + " canyon");
            if (step.contains(u'='))
                QCOMPARE(state(), step.section(u'=', 1));
        }
        for (int row = 0; row < form->songCount(); ++row)
            QCOMPARE(
                form->List2->item(row)->isSelected(), songs.split(u' ').at(row).endsWith(u'*'));
    }

    void soundFont_data()
    {
        // The SoundFont remembered, then steps: "Play", or the menu by the menu "key" or a "right"
        // press on the list, its item by letter, and the file chosen in the dialog, if any =>
        // the menu then: the SoundFont item, Un-Select All, it and System SoundFont enabled (+) or
        // not (-); the SoundFont remembered; the folder each dialog opened in; the boxes' first
        // lines.
        QTest::addColumn<QString>("script");
        const QString fluid = u"Sound&Font: FluidR3_GM.sf2... ++- | "_s;
        const QString tim = u"Sound&Font: TimGM6mb.sf2... +++ | TimGM6mb.sf2"_s;
        const QString in = u" | in sf2"_s;
        QTest::newRow("by the menu key") << ", key f TimGM6mb.sf2 => " + tim + in;
        QTest::newRow("cancelled") << "TimGM6mb.sf2, key f => " + tim + in;
        QTest::newRow("not a SoundFont") << ", key f notes.sf2 => " + fluid + in
                + " | The SoundFont notes.sf2 cannot be used: it is not a SoundFont.";
        QTest::newRow("the system's") << "TimGM6mb.sf2, right s => " + fluid;
        QTest::newRow("while a song plays")
            << ", Play, right f TimGM6mb.sf2 => " + QString(tim).replace("+++", "-++") + in;
    }
    // The SoundFont is chosen from the song list's menu, and the real sequencer takes it:
    // remembered once in use, and used at the next start; one that cannot be used is said once
    // and changes nothing. (The real dialog is met end to end.)
    void soundFont()
    {
        QFETCH(QString, script);
        const QString sf2 = u"/usr/share/sounds/sf2/"_s;
        if (!QFile::exists(sf2 + "FluidR3_GM.sf2") || !QFile::exists(sf2 + "TimGM6mb.sf2"))
            QSKIP("needs FluidR3_GM.sf2 and TimGM6mb.sf2 (packages fluid-soundfont-gm and "
                  "timgm6mb-soundfont)");
        const auto path = [&](const QString &name) {
            return name.isEmpty()           ? name
                : QFile::exists(sf2 + name) ? sf2 + name
                                            : dir.filePath(name);
        };
        QVERIFY(TestFiles::write(dir.filePath("notes.sf2"), "Sound!\n"));
        QVERIFY(SmfBuilder::writeFile(dir.filePath("a.mid"), SmfBuilder::oneNoteSong(1, 60000)));
        DevicePlatform platform;
        platform.device.setMessageHandler(
            [&](const QString &text) { platform.messageBox(text, 0, {}); });
        QStringList steps = script.section(" => ", 0, 0).split(", ");
        platform.settings["Quavrel/Sound/SoundFont"] = path(steps.takeFirst());
        platform.device(u"set canyon soundfont "_s + sf2 + "FluidR3_GM.sf2");
        Form1 window(platform);
        window.Form_Load();
        platform.device.prepare();
        QTRY_VERIFY(platform.device.status(u"soundfont"_s) != u"failed"_s);
        QString seen;
        // The menu as it opens, then the item with that letter, if any is enabled.
        const auto menu = [&](const QString &how, char letter, const QString &chosen) {
            if (!chosen.isEmpty())
                platform.dialogOutcomes.push_back({ 0, {}, path(chosen) });
            QTimer::singleShot(0, &window, [&, letter] {
                QVERIFY(QApplication::activePopupWidget());
                seen = window.SoundFontItem->text() + u' ';
                for (const QAction *item :
                    { window.OrganizeList[0], window.SoundFontItem, window.SystemSoundFontItem })
                    seen += item->isEnabled() ? u'+' : u'-';
                QTest::keyClick(QApplication::activePopupWidget(), letter);
                if (QApplication::activePopupWidget())
                    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
            });
            QWidget *list = window.List2->viewport();
            QContextMenuEvent event(
                how == "key" ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse, {},
                list->mapToGlobal(QPoint(5, 5)));
            if (how == "right" && window.List2->isEnabled())
                QTest::mousePress(list, Qt::RightButton, {}, QPoint(5, 5));
            else
                QApplication::sendEvent(how == "key" ? window.focusWidget() : list, &event);
            QTRY_VERIFY(!window.SoundFontTimer->isActive());
        };
        for (const QString &step : steps) {
            if (step == "Play") {
                QVERIFY(window.appendSong(dir.filePath("a.mid"), "a"));
                QTest::mouseClick(window.Command1.at(5), Qt::LeftButton);
            } else {
                menu(step.section(u' ', 0, 0), step.section(u' ', 1, 1).at(0).toLatin1(),
                    step.section(u' ', 2));
            }
        }
        menu("key", '-', {});
        seen += " | " + platform.settings.value("Quavrel/Sound/SoundFont").section(u'/', -1);
        for (const CommonDialog &dialog : platform.dialogs)
            seen += " | in " + QDir(dialog.InitDir).dirName();
        for (const FakePlatform::MessageBoxCall &box : platform.messageBoxes)
            seen += u" | "_s + box.text.section(u'\n', 0, 0).remove(dir.path() + u'/');
        QCOMPARE(seen, script.section(" => ", 1));
        QCOMPARE(platform.device.mode(), steps.contains("Play") ? "playing" : "failed");
    }

    void volume_data()
    {
        // Stand-in programs on the PATH, on GNOME => the command line started / the state after
        QTest::addColumn<QString>("installed");
        QTest::newRow("desktop's own")
            << "pavucontrol gnome-control-center => gnome-control-center sound / a";
        QTest::newRow("another") << "pavucontrol => pavucontrol / a";
        QTest::newRow("none") << " =>  / a | 0 No volume control program was found.";
    }
    // Volume starts the desktop's volume control, found over the PATH, while a song plays, and
    // leaves it playing; when there is none it says so.
    void volume()
    {
        QFETCH(QString, installed);
        QTemporaryDir bin;
        for (const QString &name : installed.section(" => ", 0, 0).split(u' ', Qt::SkipEmptyParts))
            QVERIFY(QFile(bin.filePath(name)).open(QIODevice::WriteOnly)
                && QFile::setPermissions(bin.filePath(name), QFileDevice::ExeOwner));
        const auto restore = qScopeGuard([path = qgetenv("PATH")] { qputenv("PATH", path); });
        qputenv("PATH", bin.path().toLocal8Bit());
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME"); // for the rest of this program
        fake->volumeControl = QtPlatform().findVolumeControl();
        add("a.mid");
        press(5);
        press(7);
        const QString started = fake->startedPrograms.value(0).join(u' ').remove(bin.path() + u'/');
        QCOMPARE(started + " / " + state(), installed.section(" => ", 1));
        QCOMPARE(form->Label4->text(), QString());
    }
};

QTEST_MAIN(TestPlayback)
#include "test_playback.moc"
