// Adding songs: the Add button with a scripted file dialog, and real file drops on the list.

#include "app/main_window.h"
#include "tests/support/fake_platform.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

// Counts the paint events that cover the whole of a widget, as a repaint of the window does;
// a pressed button repaints only the part of the window under it.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Paint && widget != nullptr
            && static_cast<QPaintEvent *>(event)->region().contains(widget->rect()))
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

const QString Unexpected = QStringLiteral("An unexpected Error has occured.\n");

QString several(const QString &folder, const QStringList &names)
{
    return folder + QChar(u'\0') + names.join(QChar(u'\0'));
}

} // namespace

class TestAddSongs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void breakMultiApart_data();
    void breakMultiApart();

    void addOneFile();
    void addSeveralFiles_data();
    void addSeveralFiles();
    void addOneFileInRoot();
    void addStopsAtShortName();
    void addCancelledOrEmpty();
    void addDialogFailure();
    void addStopsAtLimit();
    void addRepaintsAtOnce();

    void dropAcceptsDragOfFiles();
    void dropAddsMidiFilesInOrder();
    void dropStopsAtLimit();

private:
    void clickAdd(const DialogOutcome &outcome);
    QStringList names() const;
    void fillTo(int count);
    void drop(const QList<QUrl> &urls);

    std::unique_ptr<FakePlatform> fake;
    std::unique_ptr<Form1> form;
    std::unique_ptr<PaintCounter> counter;
};

void TestAddSongs::init()
{
    fake = std::make_unique<FakePlatform>();
    form = std::make_unique<Form1>(*fake);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    counter = std::make_unique<PaintCounter>();
    form->installEventFilter(counter.get());
}

void TestAddSongs::cleanup()
{
    form.reset();
    fake.reset();
    counter.reset();
}

void TestAddSongs::clickAdd(const DialogOutcome &outcome)
{
    fake->dialogOutcomes.push_back(outcome);
    QTest::mouseClick(form->Command1.at(0), Qt::LeftButton);
}

QStringList TestAddSongs::names() const
{
    QStringList result;
    for (int row = 0; row < form->List2->count(); ++row)
        result.append(form->List2->item(row)->text());
    return result;
}

void TestAddSongs::fillTo(int count)
{
    for (int i = form->songCount(); i < count; ++i)
        QVERIFY(form->appendSong(QStringLiteral("/fill/%1.mid").arg(i), QString::number(i)));
}

void TestAddSongs::breakMultiApart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("parts");
    const QChar nul(u'\0');
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("one part") << QStringLiteral("/a/b.mid") << QStringList { "/a/b.mid" };
    QTest::newRow("three parts") << QStringLiteral("/a") + nul + "b.mid" + nul + "c.mid"
                                 << QStringList { "/a", "b.mid", "c.mid" };
    QTest::newRow("adjacent NULs")
        << QStringLiteral("/a") + nul + nul + "c.mid" << QStringList { "/a", "", "c.mid" };
    QTest::newRow("NUL at the end") << QStringLiteral("/a") + nul << QStringList { "/a" };
    QTest::newRow("only a NUL") << QString(nul) << QStringList { "" };
}

void TestAddSongs::breakMultiApart()
{
    QFETCH(QString, text);
    QFETCH(QStringList, parts);
    QStringList array { QStringLiteral("index 0"), QStringLiteral("left over"),
        QStringLiteral("left over"), QStringLiteral("left over"), QStringLiteral("left over") };
    const QStringList before = array;
    QCOMPARE(form->BreakMultiApart(text, array), qint32(parts.size()));
    // Index 0 keeps its item; the array runs exactly to n.
    if (parts.isEmpty())
        QCOMPARE(array, before);
    else
        QCOMPARE(array, QStringList { QStringLiteral("index 0") } + parts);
}

void TestAddSongs::addOneFile()
{
    clickAdd({ 0, {}, QStringLiteral("/home/ann/Songs/Tune.mid") });
    QCOMPARE(form->List1.items(), QStringList { "/home/ann/Songs/Tune.mid" });
    QCOMPARE(names(), QStringList { "Tune.mid" });
    QCOMPARE(form->LastAddFolder, QStringLiteral("/home/ann/Songs"));
    QCOMPARE(form->AlbumChanged, qint16(1));
    QVERIFY(fake->messageBoxes.empty());

    QCOMPARE(fake->dialogs.size(), std::size_t(1));
    const FakePlatform::DialogCall &first = fake->dialogs.at(0);
    QCOMPARE(first.kind, DialogKind::Open);
    QVERIFY(first.dialog.CancelError);
    QCOMPARE(first.dialog.InitDir, QString());
    QCOMPARE(first.dialog.MaxFileSize, 15000);
    QCOMPARE(first.dialog.Flags, 0x80204);
    QCOMPARE(first.dialog.FileName, QString());
    QCOMPARE(first.dialog.Filter, QStringLiteral("{Midi}*.mid| *.mid"));
    QCOMPARE(first.dialog.DialogTitle, QStringLiteral("Add Midi Song"));

    // The next Add opens where the last one added; the same file twice is listed twice.
    form->Dlog.FileName = QStringLiteral("left by another dialog");
    clickAdd({ 0, {}, QStringLiteral("/home/ann/Songs/Tune.mid") });
    QCOMPARE(fake->dialogs.at(1).dialog.InitDir, QStringLiteral("/home/ann/Songs"));
    QCOMPARE(fake->dialogs.at(1).dialog.FileName, QString());
    QCOMPARE(names(), (QStringList { "Tune.mid", "Tune.mid" }));
    QCOMPARE(form->List1.count(), 2);
}

void TestAddSongs::addSeveralFiles_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("folder") << QStringLiteral("/home/ann/Songs") << QStringList { "b.mid", "a.MID" }
                            << QStringList { "/home/ann/Songs/b.mid", "/home/ann/Songs/a.MID" }
                            << QStringList { "b", "a" };
    QTest::newRow("root") << QStringLiteral("/") << QStringList { "a.mid", "b.mid" }
                          << QStringList { "/a.mid", "/b.mid" } << QStringList { "a", "b" };
    QTest::newRow("four-character name")
        << QStringLiteral("/m") << QStringList { "abcd", "x.mid" }
        << QStringList { "/m/abcd", "/m/x.mid" } << QStringList { "", "x" };
}

void TestAddSongs::addSeveralFiles()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, names);
    clickAdd({ 0, {}, several(folder, chosen) });
    QCOMPARE(form->List1.items(), paths);
    QCOMPARE(this->names(), names);
    QCOMPARE(form->LastAddFolder, folder);
    QCOMPARE(form->AlbumChanged, qint16(1));
}

void TestAddSongs::addOneFileInRoot()
{
    // A "/" among the first two characters does not count: no name, the folder is kept.
    form->LastAddFolder = QStringLiteral("/earlier");
    clickAdd({ 0, {}, QStringLiteral("/a.mid") });
    QCOMPARE(form->List1.items(), QStringList { "/a.mid" });
    QCOMPARE(names(), QStringList { QString() });
    QCOMPARE(form->LastAddFolder, QStringLiteral("/earlier"));
    QCOMPARE(form->AlbumChanged, qint16(1));
}

void TestAddSongs::addStopsAtShortName()
{
    clickAdd({ 0, {}, several(QStringLiteral("/m"), { "a.mid", "b", "c.mid" }) });
    QCOMPARE(form->List1.items(), QStringList { "/m/a.mid" });
    QCOMPARE(names(), QStringList { "a" });
    QCOMPARE(form->LastAddFolder, QStringLiteral("/m"));
    QCOMPARE(form->AlbumChanged, qint16(0));
    QCOMPARE(fake->messageBoxes.size(), std::size_t(1));
    QVERIFY(fake->messageBoxes.at(0).text.startsWith(Unexpected));
    QVERIFY(fake->messageBoxes.at(0).text.size() > Unexpected.size());
    QCOMPARE(fake->messageBoxes.at(0).style, 0);
    QCOMPARE(fake->messageBoxes.at(0).title, AppTitle);
}

void TestAddSongs::addCancelledOrEmpty()
{
    form->AlbumChanged = 1;
    form->LastAddFolder = QStringLiteral("/kept");
    QTest::mouseClick(form->Command1.at(0), Qt::LeftButton); // the fake cancels
    clickAdd({ 0, {}, QString() });
    QCOMPARE(fake->dialogs.size(), std::size_t(2));
    QCOMPARE(form->songCount(), 0);
    QCOMPARE(form->List1.count(), 0);
    QCOMPARE(form->LastAddFolder, QStringLiteral("/kept"));
    QCOMPARE(form->AlbumChanged, qint16(1));
    QVERIFY(fake->messageBoxes.empty());

    form->AlbumChanged = 0;
    QTest::mouseClick(form->Command1.at(0), Qt::LeftButton);
    QCOMPARE(form->AlbumChanged, qint16(0));
}

void TestAddSongs::addDialogFailure()
{
    clickAdd({ 20476, QStringLiteral("The names of the chosen files are too long together."), {} });
    QCOMPARE(fake->messageBoxes.size(), std::size_t(1));
    QCOMPARE(fake->messageBoxes.at(0).text,
        QStringLiteral("The names of the chosen files are too long together."));
    QCOMPARE(fake->messageBoxes.at(0).style, 4096);
    QCOMPARE(fake->messageBoxes.at(0).title, AppTitle);
    QCOMPARE(form->songCount(), 0);
    QCOMPARE(form->LastAddFolder, QString());
    QCOMPARE(form->AlbumChanged, qint16(0));
}

void TestAddSongs::addStopsAtLimit()
{
    fillTo(Form1::MaxSongs - 1);
    clickAdd({ 0, {}, several(QStringLiteral("/m"), { "a.mid", "b.mid", "c.mid" }) });
    QCOMPARE(form->songCount(), Form1::MaxSongs);
    QCOMPARE(form->List1.count(), Form1::MaxSongs);
    QCOMPARE(form->List1.item(Form1::MaxSongs - 1), QStringLiteral("/m/a.mid"));
    QCOMPARE(form->List2->item(Form1::MaxSongs - 1)->text(), QStringLiteral("a"));
    QCOMPARE(form->AlbumChanged, qint16(0));
    QCOMPARE(fake->messageBoxes.size(), std::size_t(1));
    QVERIFY(fake->messageBoxes.at(0).text.startsWith(Unexpected));
    QCOMPARE(fake->messageBoxes.at(0).style, 0);

    // One file on a full list fails the same way.
    clickAdd({ 0, {}, QStringLiteral("/m/d.mid") });
    QCOMPARE(form->songCount(), Form1::MaxSongs);
    QCOMPARE(fake->messageBoxes.size(), std::size_t(2));
    QVERIFY(fake->messageBoxes.at(1).text.startsWith(Unexpected));
}

void TestAddSongs::addRepaintsAtOnce()
{
    // Enough songs for the list to scroll both ways. Called directly: a pressed button would
    // repaint the window around itself as well.
    fillTo(500);
    const auto paintsOfAdd = [&](const QString &chosen) {
        fake->dialogOutcomes.push_back({ 0, {}, chosen });
        counter->paints = 0;
        form->Command1_Click(0);
        return counter->paints;
    };
    QCOMPARE(paintsOfAdd(QStringLiteral("/m/a.mid")), 1);
    QCOMPARE(paintsOfAdd(several(QStringLiteral("/m"), { "b.mid", "c.mid" })), 1);
    QCOMPARE(paintsOfAdd(several(QStringLiteral("/m"), { "d.mid", "e" })), 0);
    QCOMPARE(paintsOfAdd(QString()), 0);
    QCOMPARE(form->songCount(), 504);
}

void TestAddSongs::drop(const QList<QUrl> &urls)
{
    // As a file manager does it: enter, move, drop.
    QMimeData data;
    data.setUrls(urls);
    QWidget *viewport = form->List2->viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(at + QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QVERIFY(move.isAccepted());
    QDropEvent dropped(at + QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &dropped);
    QVERIFY(dropped.isAccepted());
}

void TestAddSongs::dropAcceptsDragOfFiles()
{
    // Files are accepted on entering and on every move, or the drop never comes; text is not.
    QMimeData files;
    files.setUrls({ QUrl::fromLocalFile(QStringLiteral("/m/a.mid")) });
    QMimeData text;
    text.setText(QStringLiteral("a.mid"));
    QWidget *viewport = form->List2->viewport();
    const QPoint at = viewport->rect().center();

    QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDragMoveEvent move(at + QPoint(1, 1), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QVERIFY(move.isAccepted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(viewport, &leave);

    QDragEnterEvent textEnter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &textEnter);
    QVERIFY(!textEnter.isAccepted());
    QCOMPARE(form->songCount(), 0);
}

void TestAddSongs::dropAddsMidiFilesInOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir folder(dir.path());
    for (const char *name : { "one.mid", "notes.txt", "TUNE.MID", "tune.midi", "nodot_mid" }) {
        QFile file(folder.filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(folder.mkdir(QStringLiteral("folder.mid")));
    form->AlbumChanged = 0;

    const auto local = [&](const char *name) {
        return QUrl::fromLocalFile(folder.filePath(QLatin1String(name)));
    };
    drop({ local("one.mid"), local("notes.txt"), local("TUNE.MID"), local("tune.midi"),
        local("folder.mid"), QUrl(QStringLiteral("https://example.org/remote.mid")),
        local("nodot_mid") });
    QCOMPARE(form->List1.items(),
        (QStringList { folder.filePath("one.mid"), folder.filePath("TUNE.MID"),
            folder.filePath("nodot_mid") }));
    QCOMPARE(names(), (QStringList { "one.mid", "TUNE.MID", "nodot_mid" }));
    QCOMPARE(form->AlbumChanged, qint16(0));
    QCOMPARE(form->LastAddFolder, QString());
    QVERIFY(fake->messageBoxes.empty());

    form->AlbumChanged = 1;
    drop({ local("one.mid") });
    QCOMPARE(form->List1.count(), 4);
    QCOMPARE(form->AlbumChanged, qint16(1));
}

void TestAddSongs::dropStopsAtLimit()
{
    fillTo(Form1::MaxSongs - 2);
    drop({ QUrl::fromLocalFile(QStringLiteral("/m/a.mid")),
        QUrl::fromLocalFile(QStringLiteral("/m/b.mid")),
        QUrl::fromLocalFile(QStringLiteral("/m/c.mid")) });
    QCOMPARE(form->songCount(), Form1::MaxSongs);
    QCOMPARE(form->List1.count(), Form1::MaxSongs);
    QCOMPARE(form->List1.item(Form1::MaxSongs - 1), QStringLiteral("/m/b.mid"));
    QVERIFY(fake->messageBoxes.empty());
}

QTEST_MAIN(TestAddSongs)
#include "test_add_songs.moc"
