#include "app/main_window.h"
#include "tests/support/fake_platform.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

// The window as the user first meets it, and the input behaviour of its controls.
class WindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void layoutAtCreation_data();
    void layoutAtCreation();
    void windowAtCreation();
    void tabOrderRunsDownTheColumn();
    void altLetterPressesEnabledButtonsOnly();
    void changedCaptionChangesLetter();
    void clickTogglesOnlyTheClickedEntry();
    void dragMovesOnlyTheCurrentEntry();
    void pressBesideEntriesKeepsCurrent();
    void rightPressPopsUpMenu();
    void dropDeliversLocalPathsInOrder();
    void dropOfOtherDataDoesNothing();
    void paintSetsLongScrollRange();
    void closeGoesThroughQueryUnload();

private:
    QPoint rowCentre(int row) const
    {
        return window->List2->visualItemRect(window->List2->item(row)).center();
    }
    void fillList(const QStringList &names);

    FakePlatform *fake = nullptr;
    Form1 *window = nullptr;
};

void WindowTest::init()
{
    fake = new FakePlatform;
    window = new Form1(*fake);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void WindowTest::cleanup()
{
    delete window;
    delete fake;
}

void WindowTest::fillList(const QStringList &names)
{
    for (const QString &name : names)
        QVERIFY(window->appendSong(QStringLiteral("/music/") + name, name));
}

void WindowTest::layoutAtCreation_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");
    // Geometry in pixels: the layout's twips divided by 15.
    const std::array<std::pair<const char *, int>, 10> buttons { { { "&Add", 82 }, { "&Load", 2 },
        { "&Save ", 22 }, { "&Clear", 122 }, { "&Remove", 102 }, { "&Play", 42 },
        { "&Next Song", 62 }, { "&Volume", 182 }, { "&Unselect All", 142 }, { "&Invert", 162 } } };
    for (int i = 0; i < 10; ++i) {
        QTest::addRow("Command1(%d)", i)
            << QStringLiteral("Command1_%1").arg(i) << QRect(192, buttons.at(i).second, 76, 20)
            << QString::fromLatin1(buttons.at(i).first) << (i != 6);
    }
    QTest::newRow("List2") << "List2" << QRect(4, 4, 177, 199) << QString() << true;
    QTest::newRow("Label3") << "Label3" << QRect(5, 207, 39, 13) << "Album:" << true;
    QTest::newRow("album") << "album" << QRect(45, 206, 229, 16) << "?" << true;
    QTest::newRow("PlySelOnly") << "PlySelOnly" << QRect(4, 228, 118, 13) << "Play Selected Songs"
                                << true;
    QTest::newRow("Random") << "Random" << QRect(138, 229, 84, 13) << "Random Play" << true;
}

void WindowTest::layoutAtCreation()
{
    QFETCH(QString, control);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);

    QWidget *widget = nullptr;
    QString text;
    if (control.startsWith(QLatin1String("Command1_"))) {
        QPushButton *button = window->Command1.at(control.mid(9).toInt());
        widget = button;
        text = button->text();
    } else if (control == QLatin1String("List2")) {
        widget = window->List2;
    } else if (control == QLatin1String("Label3") || control == QLatin1String("album")) {
        QLabel *label = control == QLatin1String("album") ? window->album : window->Label3;
        widget = label;
        text = label->text();
    } else {
        QCheckBox *box = control == QLatin1String("Random") ? window->Random : window->PlySelOnly;
        widget = box;
        text = box->text();
        QCOMPARE(box->checkState(), Qt::Unchecked);
    }
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(text, caption);
    QCOMPARE(widget->isEnabled(), enabled);
    QVERIFY(widget->isVisible());
}

void WindowTest::windowAtCreation()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Quavrel v1.04"));
    QCOMPARE(window->size(), QSize(278, 245));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(window->palette().color(QPalette::Window), QColor(0, 128, 128));
    QCOMPARE(window->List2->palette().color(QPalette::Text), QColor(64, 64, 64));
    QCOMPARE(window->album->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    QVERIFY(window->Label3->font().bold());
    QVERIFY(!window->Label4->isVisible());
    QCOMPARE(window->List1.count(), 0);
    QCOMPARE(window->List2->count(), 0);
    QCOMPARE(window->List3.count(), 0);
    QVERIFY(!window->Timer1->isActive());
    QCOMPARE(window->Timer1->interval(), 100);
    QCOMPARE(window->organize->title(), QStringLiteral("organiz"));
    QCOMPARE(window->OrganizeList.at(0)->text(), QStringLiteral("Un-Select All"));
    QCOMPARE(window->OrganizeList.at(1)->text(), QStringLiteral("Invert Selected"));
    QVERIFY(!window->organize->isVisible());
    QCOMPARE(window->AlbumPath, QString());
    QCOMPARE(window->AlbumChanged, qint16(0));
    // The window is shown with nothing read or sent of its own accord.
    QVERIFY(fake->log.isEmpty());
}

void WindowTest::tabOrderRunsDownTheColumn()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::focusWidget(), window->Command1.at(1));
    // Next Song starts disabled, so Tab passes over it.
    const std::vector<QWidget *> expected { window->Command1.at(2), window->Command1.at(5),
        window->Command1.at(0), window->Command1.at(4), window->Command1.at(3),
        window->Command1.at(8), window->Command1.at(9), window->Command1.at(7), window->PlySelOnly,
        window->Random, window->List2, window->Command1.at(1) };
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void WindowTest::altLetterPressesEnabledButtonsOnly()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const std::array<Qt::Key, 10> letters { Qt::Key_A, Qt::Key_L, Qt::Key_S, Qt::Key_C, Qt::Key_R,
        Qt::Key_P, Qt::Key_N, Qt::Key_V, Qt::Key_U, Qt::Key_I };
    // Alt+I presses Invert, Alt+U Unselect All, Alt+V Volume: each its own button.
    for (int index : { 9, 8, 7 }) {
        QSignalSpy clicks(window->Command1.at(index), &QPushButton::clicked);
        QTest::keyClick(window, letters.at(index), Qt::AltModifier);
        QTRY_COMPARE(clicks.count(), 1);
    }

    // Alt+N belongs to the disabled Next Song button: nothing is pressed.
    QSignalSpy nextClicks(window->Command1.at(6), &QPushButton::clicked);
    QTest::keyClick(window, Qt::Key_N, Qt::AltModifier);
    QTest::qWait(250);
    QCOMPARE(nextClicks.count(), 0);
}

void WindowTest::changedCaptionChangesLetter()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QPushButton *play = window->Command1.at(5);
    QSignalSpy clicks(play, &QPushButton::clicked);
    play->setText(QStringLiteral("S&top"));
    QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
    QTest::qWait(250);
    QCOMPARE(clicks.count(), 0);
    QTest::keyClick(window, Qt::Key_T, Qt::AltModifier);
    QTRY_COMPARE(clicks.count(), 1);
}

void WindowTest::clickTogglesOnlyTheClickedEntry()
{
    fillList({ QStringLiteral("a.mid"), QStringLiteral("b.mid"), QStringLiteral("c.mid") });
    QWidget *viewport = window->List2->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rowCentre(1));
    QVERIFY(window->List2->isRowSelected(1));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, rowCentre(2));
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, rowCentre(0));
    // Shift and Ctrl add no range: exactly the clicked rows are selected.
    QVERIFY(window->List2->isRowSelected(0));
    QVERIFY(window->List2->isRowSelected(1));
    QVERIFY(window->List2->isRowSelected(2));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rowCentre(1));
    QVERIFY(!window->List2->isRowSelected(1));
    QCOMPARE(window->List2->currentRowIndex(), 1);
    QCOMPARE(window->List2->selectedItems().size(), 2);
}

void WindowTest::dragMovesOnlyTheCurrentEntry()
{
    fillList({ QStringLiteral("a.mid"), QStringLiteral("b.mid"), QStringLiteral("c.mid"),
        QStringLiteral("d.mid") });
    QWidget *viewport = window->List2->viewport();
    int currentAtPress = -2;
    connect(window->List2, &SongListBox::mouseDown, this,
        [&] { currentAtPress = window->List2->currentRowIndex(); });
    int currentAtRelease = -2;
    connect(window->List2, &SongListBox::mouseUp, this,
        [&] { currentAtRelease = window->List2->currentRowIndex(); });

    QTest::mousePress(viewport, Qt::LeftButton, {}, rowCentre(0));
    QCOMPARE(currentAtPress, 0);
    for (int row = 1; row <= 3; ++row) {
        QMouseEvent move(QEvent::MouseMove, rowCentre(row), viewport->mapToGlobal(rowCentre(row)),
            Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QCOMPARE(window->List2->currentRowIndex(), row);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, rowCentre(3));
    QCOMPARE(currentAtRelease, 3);
    // The rows passed over stay unselected, and the window moved the dragged entry to the
    // release position.
    QCOMPARE(window->List2->item(3)->text(), QStringLiteral("a.mid"));
    QCOMPARE(window->List2->selectedItems().size(), 0);
}

void WindowTest::pressBesideEntriesKeepsCurrent()
{
    fillList({ QStringLiteral("a.mid") });
    QWidget *viewport = window->List2->viewport();
    int currentAtPress = -2;
    connect(window->List2, &SongListBox::mouseDown, this,
        [&] { currentAtPress = window->List2->currentRowIndex(); });
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
    QCOMPARE(currentAtPress, -1);
    QVERIFY(!window->List2->isRowSelected(0));
}

void WindowTest::rightPressPopsUpMenu()
{
    fillList({ QStringLiteral("a.mid"), QStringLiteral("b.mid") });
    bool menuShown = false;
    QTimer::singleShot(0, this, [&] {
        menuShown = window->organize->isVisible();
        window->organize->close();
    });
    QTest::mousePress(window->List2->viewport(), Qt::RightButton, {}, rowCentre(1));
    QVERIFY(menuShown);
    // A right press makes the entry current without toggling it.
    QCOMPARE(window->List2->currentRowIndex(), 1);
    QVERIFY(!window->List2->isRowSelected(1));
    QCOMPARE(window->DragFromIndex, qint16(1));
    QCOMPARE(window->DragName, QStringLiteral("b.mid"));
    QCOMPARE(window->DragPath, QStringLiteral("/music/b.mid"));

    // A left press shows no menu.
    menuShown = false;
    QTimer::singleShot(0, this, [&] { menuShown = window->organize->isVisible(); });
    QTest::mouseClick(window->List2->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QTest::qWait(20);
    QVERIFY(!menuShown);
}

void WindowTest::dropDeliversLocalPathsInOrder()
{
    QSignalSpy drops(window->List2, &SongListBox::filesDropped);
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(QStringLiteral("/music/b song.mid")),
        QUrl(QStringLiteral("https://example.org/x.mid")),
        QUrl::fromLocalFile(QStringLiteral("/music/a.MID")) });
    const QPoint at(30, 30);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->List2->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->List2->viewport(), &move);
    QVERIFY(move.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->List2->viewport(), &drop);
    QCOMPARE(drops.count(), 1);
    QCOMPARE(drops.at(0).at(0).toStringList(),
        QStringList({ QStringLiteral("/music/b song.mid"), QStringLiteral("/music/a.MID") }));
}

void WindowTest::dropOfOtherDataDoesNothing()
{
    QSignalSpy drops(window->List2, &SongListBox::filesDropped);
    QMimeData data;
    data.setText(QStringLiteral("/music/a.mid"));
    QDragEnterEvent enter(QPoint(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->List2->viewport(), &enter);
    QVERIFY(!enter.isAccepted());
    QDropEvent drop(QPoint(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->List2->viewport(), &drop);
    QCOMPARE(drops.count(), 0);
}

void WindowTest::paintSetsLongScrollRange()
{
    window->repaint();
    // 2655 twips + 100 = 2755 pixels to scroll over, far wider than the 177-pixel list.
    QCOMPARE(window->List2->horizontalExtent(), 2755);
    fillList({ QStringLiteral("a.mid") });
    window->List2->resize(window->List2->size());
    QVERIFY(window->List2->horizontalScrollBar()->maximum() > 2000);
}

void WindowTest::closeGoesThroughQueryUnload()
{
    // Closing the window ends it unless the close handler cancels (tested with albums).
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(WindowTest)
#include "test_window.moc"
