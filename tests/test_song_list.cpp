// The song list as the user edits it with real mouse, keyboard and drop events: Add, drops,
// Remove, Clear, drags, selection, the Alt letters, the sideways scroll range, and the display
// names that added files get.

#include "app/main_window.h"
#include "tests/support/fake_platform.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

#include <sys/stat.h>

class TestSongList : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<Form1> form;
    QTemporaryDir dir;

    QPoint centre(int row) const
    {
        form->List2->scrollToItem(form->List2->item(row));
        return form->List2->visualItemRect(form->List2->item(row)).center();
    }
    // The entries, blank-separated and in brackets when selected, each its display name or, when
    // the path is neither "/m/<name>.mid" nor <name> in the temporary folder, "path=name" (of a
    // long list only the last, after how many come before it); then, each after " | ":
    // "changed" when the album has unsaved changes, "forgotten" when no album is current,
    // "in <folder>" for the folder of the last Add, the message boxes shown, and how many paths
    // there are when that is not the number of entries.
    QString observed() const
    {
        const int first = form->songCount() > 100 ? form->songCount() - 1 : 0;
        QStringList entries(first > 0 ? 1 : 0, QStringLiteral("%1 before").arg(first));
        for (int row = first; row < form->songCount(); ++row) {
            const QString name = form->List2->item(row)->text();
            const QString path = form->List1.item(row);
            const bool plain = path == "/m/" + name + ".mid" || path == dir.filePath(name);
            entries << QString(form->List2->isRowSelected(row) ? "[%1]" : "%1")
                           .arg(plain ? name : path + u'=' + name);
        }
        QStringList notes { form->AlbumChanged ? "changed" : "" };
        notes << (form->AlbumPath.isEmpty() && form->album->text().isEmpty() ? "forgotten" : "");
        notes << (form->LastAddFolder.isEmpty() ? "" : "in " + form->LastAddFolder)
              << fake->takeBoxes();
        notes.prepend(entries.join(u' '));
        if (form->List1.count() != form->songCount())
            notes << QStringLiteral("%1 paths").arg(form->List1.count());
        notes.removeAll(QString());
        return notes.join(QStringLiteral(" | "));
    }

    // Runs user actions, separated by ";": "fill 5" (songs "/m/<i>.mid" named <i> up to that
    // count), "click 2 4" (a click on each of these rows), "shift 2" (a click with Shift held),
    // "still 2" (that entry is current), "drag 0 3" (from -1: a press beside the entries),
    // "menu 3 1" (a right press on row 3, then item 1), a button's caption ("Remove yes", "Clear
    // no", "Add /m|a.mid" choosing that, | for NUL, "Add !code text" failing so, "Add" alone
    // cancelled), "alt R", "drop a b" (a web address, then these files of the temporary folder,
    // named percent-encoded and dropped as a file manager does), and "during <action>" (done once
    // when events next run).
    void act(const QString &script)
    {
        for (const QString &step : script.split(u';', Qt::SkipEmptyParts)) {
            const QStringList word = step.split(u' ', Qt::SkipEmptyParts);
            const QString &verb = word[0];
            const int row = word.value(1).toInt(), to = word.value(2).toInt();
            QWidget *viewport = form->List2->viewport();
            for (int i = form->songCount(); verb == "fill" && i < row; ++i)
                QVERIFY(form->appendSong(QStringLiteral("/m/%1.mid").arg(i), QString::number(i)));
            for (const QString &at : word.mid(1))
                if (verb == "click" || verb == "shift")
                    QTest::mouseClick(viewport, Qt::LeftButton,
                        verb == "shift" ? Qt::ShiftModifier : Qt::NoModifier, centre(at.toInt()));
            if (verb == "still")
                QCOMPARE(form->List2->currentItem()->text(), word[1]);
            if (verb == "drag") {
                QTest::mousePress(viewport, Qt::LeftButton, {},
                    row < 0 ? QPoint(5, viewport->height() - 5) : centre(row));
                for (int over = std::max(row, 0); over != to; over += row < to ? 1 : -1)
                    QTest::mouseMove(viewport, centre(over));
                QTest::mouseMove(viewport, centre(to));
                QTest::mouseRelease(viewport, Qt::LeftButton, {}, centre(to));
            }
            if (verb == "menu") {
                QTimer::singleShot(0, form.get(), [to] {
                    for (int i = 0; i <= to; ++i)
                        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Down);
                    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
                });
                QTest::mousePress(viewport, Qt::RightButton, {}, centre(row));
                QTest::mouseRelease(viewport, Qt::RightButton, {}, centre(row));
            }
            // A button pressed by its caption; Remove and Clear answered "yes" or "no", Add given
            // what the dialog returns.
            const QString folder = form->LastAddFolder;
            for (QPushButton *button : form->Command1) {
                if (!button->text().remove(u'&').startsWith(verb))
                    continue;
                // A path reads as error 0; "!20476 text" as a failure with that description.
                if (verb == "Add" && word.size() > 1)
                    fake->dialogOutcomes.push_back({ word[1].mid(1).toInt(), word.mid(2).join(u' '),
                        QString(word[1]).replace(u'|', QChar(u'\0')).section(u'!', 0, 0) });
                if (verb != "Add" && word.size() > 1)
                    fake->messageBoxAnswers.push_back(
                        word[1] == "yes" ? MsgBox::IdYes : MsgBox::IdNo);
                QTest::mouseClick(button, Qt::LeftButton);
                // The Add dialog opens in the folder of the last Add.
                QVERIFY(verb != "Add" || fake->dialogs.back().InitDir == folder);
            }
            if (verb == "alt") {
                QTest::keyClick(form.get(), Qt::Key(word[1].at(0).unicode()), Qt::AltModifier);
                // A letter presses its button as a short animated click.
                QTRY_VERIFY(std::none_of(form->Command1.begin(), form->Command1.end(),
                    [](QPushButton *button) { return button->isDown(); }));
            }
            if (verb == "drop") {
                QList<QUrl> urls { QUrl("https://example.org/x.mid") };
                for (const QString &name : word.mid(1))
                    urls << QUrl::fromEncoded(
                        QUrl::fromLocalFile(dir.path()).toEncoded() + '/' + name.toLatin1());
                QMimeData data;
                data.setUrls(urls);
                QDragEnterEvent enter({ 9, 9 }, Qt::CopyAction, &data, Qt::LeftButton, {});
                QDragMoveEvent move({ 9, 9 }, Qt::CopyAction, &data, Qt::LeftButton, {});
                QDropEvent drop({ 9, 9 }, Qt::CopyAction, &data, Qt::LeftButton, {});
                for (QEvent *event : std::initializer_list<QEvent *> { &enter, &move, &drop })
                    QApplication::sendEvent(viewport, event);
                QVERIFY(enter.isAccepted() && move.isAccepted());
            }
            if (verb == "during")
                fake->onProcessEvents = [this, action = word.mid(1).join(u' ')]() mutable {
                    act(std::exchange(action, {}));
                };
        }
    }

private Q_SLOTS:
    // A fresh window with a current album, whose sequencer says a song plays for as long as a
    // test runs; the temporary folder holds folders named like a song, one not in UTF-8.
    void init()
    {
        form.reset();
        fake = std::make_unique<FakePlatform>();
        fake->mode = QStringLiteral("playing");
        form = std::make_unique<Form1>(*fake);
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->AlbumPath = QStringLiteral("/albums/Rock.alp");
        form->album->setText(QStringLiteral("Rock"));
        QVERIFY(QDir(dir.path()).mkpath("f.mid"));
        ::mkdir(QFile::encodeName(dir.filePath("g")) + "\xe9.mid", 0700);
    }

    void edit_data()
    {
        QTest::addColumn<QString>("script"); // actions => what the user sees then
        const QString removeQ = QStringLiteral(" | 36 Remove selected files from the song list?");
        const QString clearQ = QStringLiteral(" | 36 Remove all files from the song list?");
        const QString unexpected = QStringLiteral(" | 0 An unexpected Error has occured.\n");
        QTest::newRow("one in the root") << "Add /h/x; Add /a => /h/x=x /a= | changed | in /h";
        QTest::newRow("slash second") << "Add ./x => ./x= | changed";
        QTest::newRow("slash third") << "Add ab/x => ab/x=x | changed | in ab";
        QTest::newRow("several") << "Add /h|b.mid|a.MID => /h/b.mid=b /h/a.MID=a | changed | in /h";
        QTest::newRow("in the root") << "Add /|a.mid|b.mid| => /a.mid=a /b.mid=b | changed | in /";
        QTest::newRow("four characters, empty") << "Add /m|abcd||x.mid => /m/abcd= | in /m"
                + unexpected + "Invalid procedure call or argument";
        QTest::newRow("too short") << "Add /m|a.mid|b|c.mid => a | in /m" + unexpected
                + "Invalid procedure call or argument";
        QTest::newRow("full list") << "fill 32766; Add /m|a.mid|b.mid => 32766 before a | in /m"
                + unexpected + "The song list cannot hold more than 32767 songs.";
        QTest::newRow("cancelled") << "Add => ";
        QTest::newRow("nothing chosen") << "Add !0 => ";
        QTest::newRow("dialog failure") << "Add !20476 Too long. => 4096 Too long.";
        QTest::newRow("drop")
            << QStringLiteral(
                   "drop a.mid C.MID d.midi f.mid emid caf%E9.mid g%E9.mid => a.mid C.MID emid caf")
                + QChar(0xDCE9) + ".mid";
        QTest::newRow("Remove, empty") << "Remove => ";
        QTest::newRow("none") << "fill 2; Remove => 0 1 | 0 Please select song(s) to remove.";
        QTest::newRow("Remove, No") << "fill 3; click 0 2; Remove no => [0] 1 [2]" + removeQ;
        QTest::newRow("Remove 1 and 3")
            << "fill 5; click 1 3 4 4; Remove yes; still 4 => 0 2 4 | changed" + removeQ;
        QTest::newRow("all") << "fill 3; Invert; Remove yes => changed | forgotten" + removeQ;
        QTest::newRow("Invert meanwhile")
            << "fill 5; click 1 3; during Invert; Remove yes => changed | forgotten" + removeQ;
        QTest::newRow("click meanwhile")
            << "fill 5; click 1 3; during click 0; Remove yes => 2 4 | changed" + removeQ;
        QTest::newRow("Add meanwhile") << "fill 5; click 1 3; during Add /m|4.mid|5.mid; Remove "
                                          "yes => 0 2 4 4 5 | changed | in /m"
                + removeQ;
        // More separate runs than are taken out one by one: the list is built again in one pass.
        QStringList evens, odds;
        for (int i = 0; i < 80; ++i)
            (i % 2 ? odds : evens) << QString::number(i);
        QTest::newRow("every other of 80") << "fill 80; click " + evens.join(u' ')
                + " 41 41; Remove yes; still 41 => " + odds.join(u' ') + " | changed" + removeQ;
        QTest::newRow("Clear after Add")
            << "fill 2; Add /m/2.mid; Clear yes => changed | forgotten | in /m" + clearQ;
        QTest::newRow("Clear, empty") << "Clear yes => forgotten" + clearQ;
        QTest::newRow("Clear, No") << "fill 2; click 1; Clear no => 0 [1]" + clearQ;
        QTest::newRow("drag down") << "fill 5; click 2; drag 0 3 => 1 [2] 3 0 4";
        QTest::newRow("drag up") << "fill 5; click 2; drag 4 1 => 0 4 1 [2] 3";
        QTest::newRow("drag from beside") << "fill 5; drag -1 1 => 0 1 2 3 4";
        QTest::newRow("clicks toggle") << "fill 4; click 1 3 1; shift 0 => [0] 1 2 [3]";
        QTest::newRow("Invert Selected") << "fill 4; click 0 2; menu 3 1 => 0 [1] 2 [3]";
        QTest::newRow("Unselect All") << "fill 4; click 0 2; Unselect => 0 1 2 3";
        QTest::newRow("Un-Select All") << "fill 4; click 0; menu 2 0 => 0 1 2 3";
        QTest::newRow("Alt+I") << "fill 4; click 0; alt I => 0 [1] [2] [3]";
        QTest::newRow("Alt+R, playing") << "fill 1; Play; alt R => 0";
        QTest::newRow("Alt+T, playing") << "fill 1; Play; alt T; click 0 => [0]";
    }
    void edit()
    {
        QFETCH(QString, script);
        act(script.section(" => ", 0, 0));
        QCOMPARE(observed(), script.section(" => ", 1));
    }

    // Regression: a horizontal bar that came and went with the range laid the list out again
    // on every repaint, without end, once the vertical bar showed too.
    void scrollRangeSurvivesRepaint()
    {
        act("fill 40");
        form->repaint();
        QApplication::processEvents();
        // 2655 twips + 100 = 2755 pixels to scroll over, though the list is 177 pixels wide.
        const QScrollBar *bar = form->List2->horizontalScrollBar();
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->maximum() + bar->pageStep(), 2755);
    }
};

QTEST_MAIN(TestSongList)
#include "test_song_list.moc"
