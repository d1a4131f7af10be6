// The open-file dialog on the desktop: a real QFileDialog set up from the dialog properties,
// answered as a user would, and its result turned into the text the window splits.

#include "platform/qt_platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// The patterns inside the parentheses of a Qt name filter.
QStringList patternsOf(const QString &nameFilter)
{
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("\\(([^)]*)\\)$")).match(nameFilter);
    return match.hasMatch() ? match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)
                            : QStringList();
}

} // namespace

class TestFileDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void nameFiltersMatchAnyCase();
    void resultText_data();
    void resultText();
    void openDialogSeveralFiles();
    void openDialogCancelled();
    void openDialogResultTooLong();

private:
    // Shows the open dialog; answer runs while it is open.
    DialogOutcome showOpen(const CommonDialog &dialog, std::function<void(QFileDialog &)> answer);
    CommonDialog addDialog() const;

    QTemporaryDir m_dir;
};

void TestFileDialog::initTestCase()
{
    // The Qt dialog, whatever the desktop offers, so that the test can answer it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QVERIFY(m_dir.isValid());
    for (const char *name : { "a.mid", "B.MID", "c.Mid", "d.midi", "e.txt" }) {
        QFile file(QDir(m_dir.path()).filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

CommonDialog TestFileDialog::addDialog() const
{
    CommonDialog dialog;
    dialog.CancelError = true;
    dialog.InitDir = m_dir.path();
    dialog.MaxFileSize = 15000;
    dialog.Flags = 0x80204;
    dialog.Filter = QStringLiteral("{Midi}*.mid| *.mid");
    dialog.DialogTitle = QStringLiteral("Add Midi Song");
    return dialog;
}

void TestFileDialog::nameFiltersMatchAnyCase()
{
    const QStringList filters
        = FileDialogAdaptor::nameFilters(QStringLiteral("{Midi}*.mid| *.mid"));
    QCOMPARE(filters.size(), 1);
    QVERIFY(filters.first().startsWith(QStringLiteral("{Midi}*.mid (")));
    // Matched case-sensitively, as desktop dialogs do, the pattern still takes every case.
    const QStringList matched = QDir(m_dir.path())
                                    .entryList(patternsOf(filters.first()),
                                        QDir::Files | QDir::CaseSensitive, QDir::Name);
    QCOMPARE(matched, (QStringList { "B.MID", "a.mid", "c.Mid" }));

    const QStringList two
        = FileDialogAdaptor::nameFilters(QStringLiteral("Albums (*.alp)|*.alp|All|*.alp;*.txt"));
    QCOMPARE(two.size(), 2);
    QCOMPARE(patternsOf(two.at(1)).size(), 2);
}

void TestFileDialog::resultText_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QString>("text");
    const QChar nul(u'\0');
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("one") << QStringList { "/home/ann/a.mid" } << QStringLiteral("/home/ann/a.mid");
    QTest::newRow("several") << QStringList { "/home/ann/b.mid", "/home/ann/a.mid" }
                             << QStringLiteral("/home/ann") + nul + "b.mid" + nul + "a.mid";
    QTest::newRow("root") << QStringList { "/a.mid", "/b.mid" }
                          << QStringLiteral("/") + nul + "a.mid" + nul + "b.mid";
}

void TestFileDialog::resultText()
{
    QFETCH(QStringList, chosen);
    QFETCH(QString, text);
    QCOMPARE(FileDialogAdaptor::resultText(chosen), text);
}

DialogOutcome TestFileDialog::showOpen(
    const CommonDialog &dialog, std::function<void(QFileDialog &)> answer)
{
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
        auto *fileDialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (fileDialog == nullptr)
            return;
        answered = true;
        answer(*fileDialog);
    });
    QtPlatform platform;
    const DialogOutcome outcome = platform.showFileDialog(DialogKind::Open, dialog);
    [&] { QVERIFY(answered); }();
    return outcome;
}

void TestFileDialog::openDialogSeveralFiles()
{
    QString title;
    QString folder;
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList listed;
    const DialogOutcome outcome = showOpen(addDialog(), [&](QFileDialog &dialog) {
        title = dialog.windowTitle();
        folder = dialog.directory().absolutePath();
        filters = dialog.nameFilters();
        mode = dialog.fileMode();
        // The dialog lists the folder on a worker thread; wait for the files it shows.
        const auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
        QVERIFY(view != nullptr);
        for (int wait = 0; wait < 250 && listed.size() < 3; ++wait) {
            QTest::qWait(20);
            listed.clear();
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                listed.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
        }
        // Typed as a user types several names into the name field.
        auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name != nullptr);
        name->setText(QStringLiteral("\"c.Mid\" \"a.mid\""));
        QTest::keyClick(name, Qt::Key_Return);
        if (dialog.isVisible())
            dialog.reject();
    });
    QCOMPARE(title, QStringLiteral("Add Midi Song"));
    QCOMPARE(folder, QDir(m_dir.path()).absolutePath());
    QCOMPARE(filters, FileDialogAdaptor::nameFilters(QStringLiteral("{Midi}*.mid| *.mid")));
    QCOMPARE(mode, QFileDialog::ExistingFiles);
    listed.sort();
    QCOMPARE(listed, (QStringList { "B.MID", "a.mid", "c.Mid" }));
    QCOMPARE(outcome.error, 0);
    QCOMPARE(outcome.fileName,
        QDir(m_dir.path()).absolutePath() + QChar(u'\0') + "c.Mid" + QChar(u'\0') + "a.mid");
}

void TestFileDialog::openDialogCancelled()
{
    CommonDialog dialog = addDialog();
    DialogOutcome outcome = showOpen(dialog, [](QFileDialog &shown) { shown.reject(); });
    QCOMPARE(outcome.error, CommonDialog::CancelErrorCode);
    QCOMPARE(outcome.fileName, QString());

    dialog.CancelError = false;
    outcome = showOpen(dialog, [](QFileDialog &shown) { shown.reject(); });
    QCOMPARE(outcome.error, 0);
    QCOMPARE(outcome.fileName, QString());
}

void TestFileDialog::openDialogResultTooLong()
{
    CommonDialog dialog = addDialog();
    dialog.MaxFileSize = 8;
    const DialogOutcome outcome = showOpen(dialog, [](QFileDialog &shown) {
        auto *name = shown.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name != nullptr);
        name->setText(QStringLiteral("a.mid"));
        QTest::keyClick(name, Qt::Key_Return);
        if (shown.isVisible())
            shown.reject();
    });
    QVERIFY(outcome.error != 0);
    QVERIFY(outcome.error != CommonDialog::CancelErrorCode);
    QVERIFY(!outcome.description.isEmpty());
    QCOMPARE(outcome.fileName, QString());
}

QTEST_MAIN(TestFileDialog)
#include "test_file_dialog.moc"
