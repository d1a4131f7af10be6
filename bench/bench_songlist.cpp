// Times the song-list editing operations on a full list of 32767 songs: one Add of every file
// through a single several-files dialog result, Invert, Un-Select All, one drag from the top to
// the bottom by mouse events, and Remove of every song, with the longest pause between two runs
// of pending events and between two repaints of the list during that Remove. Then the harder
// shapes of selection: every other song (Invert, Remove) and all but the first (Remove).
// Run offscreen: QT_QPA_PLATFORM=offscreen ./bench_songlist

#include "app/main_window.h"
#include "tests/support/fake_platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

// Records the longest pause between two paints of a widget while armed.
class PaintGaps : public QObject
{
public:
    void arm()
    {
        m_clock.start();
        m_longest = 0;
        m_paints = 0;
    }
    qint64 longest() const { return std::max(m_longest, m_clock.elapsed()); }
    int paints() const { return m_paints; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_clock.isValid()) {
            m_longest = std::max(m_longest, m_clock.restart());
            ++m_paints;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
    int m_paints = 0;
};

void report(const char *what, qint64 ms, const char *extra = "")
{
    std::printf("%-36s %6lld ms%s\n", what, static_cast<long long>(ms), extra);
}

bool check(bool ok, const char *what)
{
    if (!ok)
        std::printf("FAILED: %s\n", what);
    return ok;
}

void sendMove(QWidget *viewport, QPoint at)
{
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    FakePlatform fake;
    Form1 form(fake);
    form.show();
    QApplication::processEvents();
    bool ok = true;
    QElapsedTimer clock;

    // One Add of 32767 files: "folder NUL name NUL name ...".
    QString chosen = QStringLiteral("/home/user/Music/Collection");
    for (int i = 0; i < Form1::MaxSongs; ++i)
        chosen += QChar(u'\0') + QStringLiteral("song%1.mid").arg(i, 5, 10, QLatin1Char('0'));
    fake.dialogOutcomes.push_back({ 0, QString(), chosen });
    clock.start();
    QTest::mouseClick(form.Command1.at(0), Qt::LeftButton);
    report("Add 32767 files", clock.elapsed());
    ok &= check(form.songCount() == Form1::MaxSongs && form.List1.count() == Form1::MaxSongs,
        "Add filled the list");

    clock.start();
    QTest::mouseClick(form.Command1.at(9), Qt::LeftButton);
    report("Invert (none -> all)", clock.elapsed());
    ok &= check(form.List2->isRowSelected(0) && form.List2->isRowSelected(Form1::MaxSongs - 1),
        "Invert selected all");

    clock.start();
    QTest::mouseClick(form.Command1.at(8), Qt::LeftButton);
    report("Un-Select All (all -> none)", clock.elapsed());
    ok &= check(form.List2->selectedItems().isEmpty(), "Un-Select All cleared all");

    // Drag the first song to the last place with the mouse.
    QWidget *viewport = form.List2->viewport();
    form.List2->scrollToTop();
    QApplication::processEvents();
    const QString first = form.List1.item(0);
    clock.start();
    const QPoint top = form.List2->visualItemRect(form.List2->item(0)).center();
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, top);
    form.List2->scrollToBottom();
    const QPoint bottom
        = form.List2->visualItemRect(form.List2->item(Form1::MaxSongs - 1)).center();
    sendMove(viewport, bottom);
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, bottom);
    QApplication::processEvents();
    report("Drag top -> bottom", clock.elapsed());
    ok &= check(form.List1.item(Form1::MaxSongs - 1) == first
            && form.List2->item(Form1::MaxSongs - 1)->text() == QStringLiteral("song00000"),
        "drag moved the first song last");

    // Remove every song, timing the pauses between event runs and between paints.
    QTest::mouseClick(form.Command1.at(9), Qt::LeftButton);
    fake.messageBoxAnswers.push_back(MsgBox::IdYes);
    QElapsedTimer sinceEvents;
    qint64 longestEventsGap = 0;
    fake.onProcessEvents
        = [&] { longestEventsGap = std::max(longestEventsGap, sinceEvents.restart()); };
    PaintGaps paints;
    viewport->installEventFilter(&paints);
    const int eventRunsBefore = fake.processEventsCalls;
    clock.start();
    sinceEvents.start();
    paints.arm();
    QTest::mouseClick(form.Command1.at(4), Qt::LeftButton);
    const qint64 removeMs = clock.elapsed();
    longestEventsGap = std::max(longestEventsGap, sinceEvents.elapsed());
    report("Remove all 32767 selected", removeMs);
    std::printf("  event runs %d, longest gap between them %lld ms\n",
        fake.processEventsCalls - eventRunsBefore, static_cast<long long>(longestEventsGap));
    std::printf("  list paints %d, longest gap between them %lld ms\n", paints.paints(),
        static_cast<long long>(paints.longest()));
    ok &= check(form.songCount() == 0 && form.List1.count() == 0, "Remove emptied the list");

    // Every other song selected: the selection is as fragmented as it gets.
    fake.dialogOutcomes.push_back({ 0, QString(), chosen });
    QTest::mouseClick(form.Command1.at(0), Qt::LeftButton);
    clock.start();
    QItemSelection everyOther;
    for (int row = 0; row < Form1::MaxSongs; row += 2)
        everyOther.select(form.List2->model()->index(row, 0), form.List2->model()->index(row, 0));
    form.List2->selectionModel()->select(everyOther, QItemSelectionModel::Select);
    report("(setup: select every other song)", clock.elapsed());
    clock.start();
    QTest::mouseClick(form.Command1.at(9), Qt::LeftButton);
    report("Invert (every other)", clock.elapsed());
    fake.messageBoxAnswers.push_back(MsgBox::IdYes);
    longestEventsGap = 0;
    clock.start();
    sinceEvents.start();
    paints.arm();
    QTest::mouseClick(form.Command1.at(4), Qt::LeftButton);
    report("Remove every other song", clock.elapsed());
    std::printf("  longest gap between event runs %lld ms, between paints %lld ms\n",
        static_cast<long long>(std::max(longestEventsGap, sinceEvents.elapsed())),
        static_cast<long long>(paints.longest()));
    ok &= check(form.songCount() == (Form1::MaxSongs + 1) / 2
            && form.List1.count() == form.songCount()
            && form.List1.item(1).endsWith(QStringLiteral("song00002.mid")),
        "Remove kept the unselected half");

    // All but the first song selected: one long run that does not start at the top.
    const int before = form.songCount();
    QTest::mouseClick(form.Command1.at(8), Qt::LeftButton);
    form.List2->item(0)->setSelected(true);
    QTest::mouseClick(form.Command1.at(9), Qt::LeftButton);
    fake.messageBoxAnswers.push_back(MsgBox::IdYes);
    clock.start();
    QTest::mouseClick(form.Command1.at(4), Qt::LeftButton);
    std::printf("%-36s %6lld ms (of %d songs)\n", "Remove all but the first",
        static_cast<long long>(clock.elapsed()), before);
    ok &= check(form.songCount() == 1 && form.List1.count() == 1, "Remove kept the first song");

    return ok ? 0 : 1;
}
