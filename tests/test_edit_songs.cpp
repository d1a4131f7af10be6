// Editing the song list by mouse and buttons: Remove, Clear, drag moves, Un-Select All, Invert.

#include "app/main_window.h"
#include "tests/support/fake_platform.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

enum Button { Clear = 3, Remove = 4, UnselectAll = 8, Invert = 9 };

const QString RemoveAll = QStringLiteral("Remove all files from the song list?");
const QString RemoveSelected = QStringLiteral("Remove selected files from the song list?");
const QString SelectFirst = QStringLiteral("Please select song(s) to remove.");

} // namespace

class TestEditSongs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void removeChangesNothing_data();
    void removeChangesNothing();
    void removeRowsOneAndThree();
    void removeEverything();
    void removeKeepsListsInStepWhileEventsRun_data();
    void removeKeepsListsInStepWhileEventsRun();

    void clear_data();
    void clear();

    void dragMovesEntry_data();
    void dragMovesEntry();
    void pressAndReleaseOnOneRow();
    void releaseAfterPressBesideEntries();

    void selectionCommands_data();
    void selectionCommands();
    void rightPressOpensMenu();

private:
    void fill(const QStringList &names);
    QStringList names() const;
    QList<bool> flags() const;
    QPoint rowCentre(int row) const;
    void clickRow(int row);
    void clickButton(int index);
    void chooseFromMenu(int row, int item);
    void verifyInStep() const;

    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<Form1> form;
};

void TestEditSongs::init()
{
    fake = std::make_unique<FakePlatform>();
    form = std::make_unique<Form1>(*fake);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void TestEditSongs::cleanup()
{
    form.reset();
    fake.reset();
}

void TestEditSongs::fill(const QStringList &names)
{
    for (const QString &name : names)
        QVERIFY(form->appendSong(QStringLiteral("/m/%1.mid").arg(name), name));
}

QStringList TestEditSongs::names() const
{
    QStringList result;
    for (int row = 0; row < form->List2->count(); ++row)
        result.append(form->List2->item(row)->text());
    return result;
}

QList<bool> TestEditSongs::flags() const
{
    QList<bool> result;
    for (int row = 0; row < form->List2->count(); ++row)
        result.append(form->List2->isRowSelected(row));
    return result;
}

// Every path still belongs to the display name at its position.
void TestEditSongs::verifyInStep() const
{
    QCOMPARE(form->List1.count(), form->List2->count());
    for (int row = 0; row < form->List1.count(); ++row)
        QCOMPARE(
            form->List1.item(row), QStringLiteral("/m/%1.mid").arg(form->List2->item(row)->text()));
}

QPoint TestEditSongs::rowCentre(int row) const
{
    return form->List2->visualItemRect(form->List2->item(row)).center();
}

void TestEditSongs::clickRow(int row)
{
    QTest::mouseClick(form->List2->viewport(), Qt::LeftButton, Qt::NoModifier, rowCentre(row));
}

void TestEditSongs::clickButton(int index)
{
    QTest::mouseClick(form->Command1.at(index), Qt::LeftButton);
}

// A right press on a row opens the menu; the keyboard then picks an item, as a user may.
void TestEditSongs::chooseFromMenu(int row, int item)
{
    QStringList shown;
    QTimer::singleShot(0, form.get(), [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        for (const QAction *action : menu->actions())
            shown.append(action->text());
        for (int i = 0; i <= item; ++i)
            QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QWidget *viewport = form->List2->viewport();
    QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, rowCentre(row));
    QTest::mouseRelease(viewport, Qt::RightButton, Qt::NoModifier, rowCentre(row));
    QCOMPARE(shown, (QStringList { "Un-Select All", "Invert Selected" }));
    QVERIFY(QApplication::activePopupWidget() == nullptr);
}

void TestEditSongs::removeChangesNothing_data()
{
    QTest::addColumn<QStringList>("songs");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<int>("style");
    QTest::newRow("empty list") << QStringList {} << QList<int> {} << QString() << 0;
    QTest::newRow("none selected") << QStringList { "a", "b" } << QList<int> {} << SelectFirst << 0;
    QTest::newRow("answered No") << QStringList { "a", "b", "c" } << QList<int> { 0, 2 }
                                 << RemoveSelected << 36;
}

void TestEditSongs::removeChangesNothing()
{
    QFETCH(QStringList, songs);
    QFETCH(QList<int>, selected);
    QFETCH(QString, asked);
    QFETCH(int, style);
    fill(songs);
    form->AlbumPath = QStringLiteral("/albums/Rock.alp");
    // Toggled twice: current but not selected.
    if (!songs.isEmpty()) {
        clickRow(1);
        clickRow(1);
    }
    for (int row : selected)
        clickRow(row);
    const QList<bool> before = flags();
    fake->messageBoxAnswers.push_back(MsgBox::IdNo);
    clickButton(Remove);
    QCOMPARE(fake->messageBoxes.size(), std::size_t(asked.isEmpty() ? 0 : 1));
    if (!asked.isEmpty()) {
        QCOMPARE(fake->messageBoxes.at(0).text, asked);
        QCOMPARE(fake->messageBoxes.at(0).style, style);
        QCOMPARE(fake->messageBoxes.at(0).title, AppTitle);
    }
    QCOMPARE(names(), songs);
    QCOMPARE(flags(), before);
    verifyInStep();
    QCOMPARE(form->AlbumChanged, qint16(0));
    QCOMPARE(form->AlbumPath, QStringLiteral("/albums/Rock.alp"));
}

void TestEditSongs::removeRowsOneAndThree()
{
    fill({ "a", "b", "c", "d", "e" });
    form->AlbumPath = QStringLiteral("/albums/Rock.alp");
    form->album->setText(QStringLiteral("Rock"));
    clickRow(1);
    clickRow(3);
    // The current entry is not selected and stays.
    clickRow(4);
    clickRow(4);
    QCOMPARE(form->List2->currentRowIndex(), 4);
    fake->messageBoxAnswers.push_back(MsgBox::IdYes);
    clickButton(Remove);
    QCOMPARE(fake->messageBoxes.size(), std::size_t(1));
    QCOMPARE(fake->messageBoxes.at(0).text, RemoveSelected);
    QCOMPARE(fake->messageBoxes.at(0).style, 36);
    QCOMPARE(fake->messageBoxes.at(0).title, AppTitle);
    QCOMPARE(names(), (QStringList { "a", "c", "e" }));
    QCOMPARE(flags(), (QList<bool> { false, false, false }));
    verifyInStep();
    QCOMPARE(form->AlbumChanged, qint16(1));
    QCOMPARE(form->album->text(), QStringLiteral("Rock"));
    QCOMPARE(form->AlbumPath, QStringLiteral("/albums/Rock.alp"));
}

void TestEditSongs::removeEverything()
{
    fill({ "a", "b", "c", "d" });
    form->AlbumPath = QStringLiteral("/albums/Rock.alp");
    form->album->setText(QStringLiteral("Rock"));
    clickButton(Invert);
    fake->messageBoxAnswers.push_back(MsgBox::IdYes);
    clickButton(Remove);
    QCOMPARE(form->songCount(), 0);
    QCOMPARE(form->List1.count(), 0);
    QCOMPARE(form->AlbumChanged, qint16(1));
    QCOMPARE(form->album->text(), QString());
    QCOMPARE(form->AlbumPath, QString());
}

// While Remove lets events run, the user clicks elsewhere; the next pass works on the list as
// that click left it, and both lists stay in step.
void TestEditSongs::removeKeepsListsInStepWhileEventsRun_data()
{
    QTest::addColumn<QString>("click");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("Invert") << QStringLiteral("invert") << QStringList {};
    QTest::newRow("a row") << QStringLiteral("row 0") << QStringList { "c", "e" };
    QTest::newRow("Add") << QStringLiteral("add") << QStringList { "a", "c", "e", "f", "g" };
}

void TestEditSongs::removeKeepsListsInStepWhileEventsRun()
{
    QFETCH(QString, click);
    QFETCH(QStringList, remaining);
    fill({ "a", "b", "c", "d", "e" });
    form->AlbumPath = QStringLiteral("/albums/Rock.alp");
    clickRow(1);
    clickRow(3);
    bool clicked = false;
    fake->onProcessEvents = [&] {
        if (clicked)
            return;
        clicked = true;
        verifyInStep();
        if (click == QLatin1String("invert")) {
            clickButton(Invert);
        } else if (click == QLatin1String("row 0")) {
            clickRow(0);
        } else {
            fake->dialogOutcomes.push_back(
                { 0, {}, QStringLiteral("/m") + QChar(u'\0') + "f.mid" + QChar(u'\0') + "g.mid" });
            clickButton(0);
        }
    };
    fake->messageBoxAnswers.push_back(MsgBox::IdYes);
    clickButton(Remove);
    QVERIFY(clicked);
    QCOMPARE(names(), remaining);
    verifyInStep();
    QCOMPARE(form->AlbumChanged, qint16(1));
    QCOMPARE(form->AlbumPath.isEmpty(), remaining.isEmpty());
}

void TestEditSongs::clear_data()
{
    QTest::addColumn<QStringList>("songs");
    QTest::addColumn<int>("answer");
    QTest::addColumn<qint16>("albumChanged");
    QTest::newRow("Yes, changed") << QStringList { "a", "b" } << int(MsgBox::IdYes) << qint16(1);
    QTest::newRow("Yes, unchanged") << QStringList { "a", "b" } << int(MsgBox::IdYes) << qint16(0);
    QTest::newRow("Yes, empty list") << QStringList {} << int(MsgBox::IdYes) << qint16(0);
    QTest::newRow("No") << QStringList { "a", "b" } << int(MsgBox::IdNo) << qint16(1);
}

void TestEditSongs::clear()
{
    QFETCH(QStringList, songs);
    QFETCH(int, answer);
    QFETCH(qint16, albumChanged);
    fill(songs);
    form->AlbumChanged = albumChanged;
    form->AlbumPath = QStringLiteral("/albums/Rock.alp");
    form->album->setText(QStringLiteral("Rock"));
    fake->messageBoxAnswers.push_back(answer);
    clickButton(Clear);
    QCOMPARE(fake->messageBoxes.size(), std::size_t(1));
    QCOMPARE(fake->messageBoxes.at(0).text, RemoveAll);
    QCOMPARE(fake->messageBoxes.at(0).style, 36);
    QCOMPARE(fake->messageBoxes.at(0).title, AppTitle);
    const bool yes = answer == MsgBox::IdYes;
    QCOMPARE(names(), yes ? QStringList() : songs);
    verifyInStep();
    QCOMPARE(form->album->text(), yes ? QString() : QStringLiteral("Rock"));
    QCOMPARE(form->AlbumPath, yes ? QString() : QStringLiteral("/albums/Rock.alp"));
    QCOMPARE(form->AlbumChanged, albumChanged);
}

void TestEditSongs::dragMovesEntry_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("down") << 0 << 3 << QStringList { "b", "c", "d", "a", "e" };
    QTest::newRow("up") << 4 << 1 << QStringList { "a", "e", "b", "c", "d" };
}

void TestEditSongs::dragMovesEntry()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QStringList, order);
    fill({ "a", "b", "c", "d", "e" });
    form->AlbumChanged = 0;
    // Select the entry to move and one other; the other keeps its flag.
    const int other = from == 0 ? 2 : 3;
    clickRow(other);
    clickRow(from);
    clickRow(from);
    QWidget *viewport = form->List2->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(from));
    QVERIFY(form->List2->isRowSelected(from));
    const int step = from < to ? 1 : -1;
    for (int row = from + step; row != to + step; row += step)
        QTest::mouseMove(viewport, rowCentre(row));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(to));
    QCOMPARE(names(), order);
    verifyInStep();
    QCOMPARE(form->DragFromIndex, qint16(from));
    QCOMPARE(form->DragToIndex, qint16(to));
    QVERIFY(!form->List2->isRowSelected(to));
    QCOMPARE(form->List2->selectedItems().size(), 1);
    QCOMPARE(form->List2->selectedItems().first()->text(),
        QStringList({ "a", "b", "c", "d", "e" }).at(other));
    QCOMPARE(form->AlbumChanged, qint16(0));
}

void TestEditSongs::pressAndReleaseOnOneRow()
{
    fill({ "a", "b", "c" });
    clickRow(1);
    QCOMPARE(names(), (QStringList { "a", "b", "c" }));
    QCOMPARE(flags(), (QList<bool> { false, true, false }));
    clickRow(1);
    QCOMPARE(flags(), (QList<bool> { false, false, false }));
    verifyInStep();
}

void TestEditSongs::releaseAfterPressBesideEntries()
{
    // A press below the entries of a list with no current entry names nothing to move.
    fill({ "a", "b", "c" });
    QWidget *viewport = form->List2->viewport();
    const QPoint below(rowCentre(2).x(), viewport->height() - 5);
    QVERIFY(!form->List2->indexAt(below).isValid());
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, below);
    QCOMPARE(form->DragFromIndex, qint16(-1));
    QTest::mouseMove(viewport, rowCentre(1));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, rowCentre(1));
    QCOMPARE(form->DragToIndex, qint16(1));
    QCOMPARE(names(), (QStringList { "a", "b", "c" }));
    verifyInStep();
}

void TestEditSongs::selectionCommands_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("buttons") << false;
    QTest::newRow("menu") << true;
}

void TestEditSongs::selectionCommands()
{
    QFETCH(bool, fromMenu);
    const auto command = [&](int index) {
        if (fromMenu)
            chooseFromMenu(1, index);
        else
            clickButton(index == 0 ? UnselectAll : Invert);
    };
    fill({ "a", "b", "c", "d" });
    form->AlbumChanged = 1;
    clickRow(0);
    clickRow(2);
    command(1);
    QCOMPARE(flags(), (QList<bool> { false, true, false, true }));
    command(1);
    QCOMPARE(flags(), (QList<bool> { true, false, true, false }));
    command(0);
    QCOMPARE(flags(), (QList<bool> { false, false, false, false }));
    command(1);
    QCOMPARE(flags(), (QList<bool> { true, true, true, true }));
    QCOMPARE(names(), (QStringList { "a", "b", "c", "d" }));
    verifyInStep();
    QCOMPARE(form->AlbumChanged, qint16(1));

    // On an empty list neither does anything.
    form->clearSongs();
    if (!fromMenu) {
        clickButton(UnselectAll);
        clickButton(Invert);
        QCOMPARE(form->songCount(), 0);
    }
}

void TestEditSongs::rightPressOpensMenu()
{
    // The press makes the row current without selecting it; the release moves nothing.
    fill({ "a", "b", "c" });
    clickRow(0);
    chooseFromMenu(2, 1);
    QCOMPARE(form->DragFromIndex, qint16(2));
    QCOMPARE(form->DragToIndex, qint16(2));
    QCOMPARE(names(), (QStringList { "a", "b", "c" }));
    QCOMPARE(flags(), (QList<bool> { false, true, true }));
}

QTEST_MAIN(TestEditSongs)
#include "test_edit_songs.moc"
