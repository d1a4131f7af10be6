#include "app/main_window.h"
#include "platform/twips.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcutEvent>
#include <QStyleOptionButton>
#include <QTimer>

namespace {

QRect twipsRect(int left, int top, int width, int height)
{
    return { twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height) };
}

struct ButtonLayout
{
    const char *caption;
    int top;
    bool enabled;
};

// The button column, by index; the column reads Load, Save, Play, Next Song, Add, Remove, Clear,
// Unselect All, Invert, Volume from the top.
constexpr std::array<ButtonLayout, 10> Buttons { {
    { "&Add", 1230, true },
    { "&Load", 30, true },
    { "&Save ", 330, true },
    { "&Clear", 1830, true },
    { "&Remove", 1530, true },
    { "&Play", 630, true },
    { "&Next Song", 930, false },
    { "&Volume", 2730, true },
    { "&Unselect All", 2130, true },
    { "&Invert", 2430, true },
} };

// Tab order: the buttons by their place in the column, then the check boxes, then the list.
constexpr std::array<int, 10> ButtonTabOrder { 1, 2, 5, 6, 0, 4, 3, 8, 9, 7 };

constexpr int ButtonLeft = 2880;
constexpr int ButtonWidth = 1140;
constexpr int ButtonHeight = 300;

QFont sansFont(double points, bool bold)
{
    QFont font;
    font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") });
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The room a control's style leaves for a caption.
QRect captionRoom(QWidget *control, const QString &caption)
{
    QStyleOptionButton option;
    option.initFrom(control);
    option.text = caption;
    if (qobject_cast<QPushButton *>(control) != nullptr)
        return control->style()->subElementRect(QStyle::SE_PushButtonContents, &option, control);
    if (qobject_cast<QCheckBox *>(control) != nullptr)
        return control->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, control);
    return control->contentsRect();
}

// Takes the control's font down from its design size, a quarter point at a time, to the largest
// size at which each of its captions fits whole: where Liberation Sans is missing, the font that
// stands in for it may run wider or taller.
void fitCaptions(QWidget *control, const QStringList &captions)
{
    QFont font = control->font();
    const auto fits = [&] {
        const QFontMetricsF metrics(font, control);
        for (const QString &caption : captions) {
            const QRect room = captionRoom(control, caption);
            if (metrics.horizontalAdvance(QString(caption).remove(QLatin1Char('&'))) > room.width()
                || metrics.height() > room.height())
                return false;
        }
        return true;
    };
    while (!fits() && font.pointSizeF() > 4.0)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    control->setFont(font);
}

// A push button whose Alt-letter clicks it at once: Qt's own shows the button pressed for 100 ms
// first, which would delay Play by as much.
class CommandButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::Shortcut || !isEnabled()
            || static_cast<QShortcutEvent *>(event)->isAmbiguous())
            return QPushButton::event(event);
        if (focusPolicy() & Qt::TabFocus)
            setFocus(Qt::ShortcutFocusReason);
        click();
        return true;
    }
};

} // namespace

Form1::Form1(Platform &platform, QWidget *parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_platform(platform)
{
    createControls();
    connectEvents();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    setWindowTitle(AppTitle);
    setFixedSize(twipsToPixels(4170), twipsToPixels(3675));
    // The small dialog font every control uses unless it names its own.
    setFont(sansFont(8.25, false));
    setAutoFillBackground(true);
    QPalette teal = palette();
    teal.setColor(QPalette::Window, QColor(0, 128, 128));
    setPalette(teal);

    createButtonsAndLists();
    createLabels();

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);

    organize = new QMenu(QStringLiteral("organiz"), this);
    OrganizeList.at(0) = organize->addAction(QStringLiteral("Un-Select All"));
    OrganizeList.at(1) = organize->addAction(QStringLiteral("Invert Selected"));
    createSoundFontItems();

    // Every caption whole, whatever font stands in for Liberation Sans; the Play button also
    // reads "S&top".
    for (QPushButton *button : Command1)
        fitCaptions(button,
            { button->text(), button == Command1.at(5) ? QStringLiteral("S&top") : QString() });
    for (QWidget *control : std::initializer_list<QWidget *> { PlySelOnly, Random, Label3 })
        fitCaptions(control, { control->property("text").toString() });

    Command1.at(1)->setFocus(Qt::OtherFocusReason);
}

// The controls that take the focus, created in tab order, so that the focus chain runs through
// the buttons by their place in the column, then the check boxes and the list.
void Form1::createButtonsAndLists()
{
    const QPalette controlPalette = QApplication::palette();
    for (int index : ButtonTabOrder) {
        const ButtonLayout &row = Buttons.at(index);
        auto *button = new CommandButton(QString::fromLatin1(row.caption), this);
        button->setGeometry(twipsRect(ButtonLeft, row.top, ButtonWidth, ButtonHeight));
        button->setPalette(controlPalette);
        button->setEnabled(row.enabled);
        button->setAutoDefault(false);
        Command1.at(index) = button;
    }

    PlySelOnly = new QCheckBox(QStringLiteral("Play Selected Songs"), this);
    PlySelOnly->setGeometry(twipsRect(60, 3420, 1770, 195));
    Random = new QCheckBox(QStringLiteral("Random Play"), this);
    Random->setGeometry(twipsRect(2070, 3435, 1260, 195));
    for (QCheckBox *box : { PlySelOnly, Random }) {
        // Check boxes keep the default control background on the teal window.
        box->setPalette(controlPalette);
        box->setAutoFillBackground(true);
    }

    List2 = new SongListBox(this);
    List2->setGeometry(twipsRect(60, 60, 2655, 2985));
    QPalette listPalette = controlPalette;
    listPalette.setColor(QPalette::Base, QColor(255, 255, 255));
    listPalette.setColor(QPalette::Text, QColor(64, 64, 64));
    List2->setPalette(listPalette);

    for (int index = 0; index + 1 < int(ButtonTabOrder.size()); ++index)
        setTabOrder(
            Command1.at(ButtonTabOrder.at(index)), Command1.at(ButtonTabOrder.at(index + 1)));
    setTabOrder(Command1.at(ButtonTabOrder.back()), PlySelOnly);
    setTabOrder(PlySelOnly, Random);
    setTabOrder(Random, List2);
}

void Form1::createLabels()
{
    Label3 = new QLabel(QStringLiteral("Album:"), this);
    Label3->setGeometry(twipsRect(75, 3105, 585, 195));
    Label3->setFont(sansFont(8.25, true));

    album = new QLabel(QStringLiteral("?"), this);
    album->setGeometry(twipsRect(675, 3090, 3435, 240));
    album->setFont(sansFont(9.75, false));
    QPalette green = album->palette();
    green.setColor(QPalette::WindowText, QColor(0, 255, 0));
    album->setPalette(green);

    // Lies below the client area and is never seen.
    Label4 = new QLabel(QStringLiteral("Label4"), this);
    Label4->setGeometry(twipsRect(270, 4200, 3900, 240));
    Label4->hide();
}

void Form1::connectEvents()
{
    for (int index = 0; index < int(Command1.size()); ++index) {
        connect(Command1.at(index), &QPushButton::clicked, this,
            [this, index] { Command1_Click(qint16(index)); });
    }
    for (int index = 0; index < int(OrganizeList.size()); ++index) {
        connect(OrganizeList.at(index), &QAction::triggered, this,
            [this, index] { OrganizeList_Click(qint16(index)); });
    }
    connect(List2, &SongListBox::mouseDown, this, [this](int button, int shift, float x, float y) {
        List2_MouseDown(qint16(button), qint16(shift), x, y);
    });
    connect(List2, &SongListBox::mouseUp, this, [this](int button, int shift, float x, float y) {
        List2_MouseUp(qint16(button), qint16(shift), x, y);
    });
    connect(List2, &SongListBox::filesDropped, this,
        [this](const QStringList &paths, int button, int shift, float x, float y) {
            qint32 effect = 0;
            List2_OLEDragDrop(paths, effect, qint16(button), qint16(shift), x, y);
        });
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

void Form1::Command1_Click(qint16 Index)
{
    switch (Index) {
    case 0:
        addCommand();
        break;
    case 1:
        loadCommand();
        break;
    case 2:
        saveCommand();
        break;
    case 3:
        clearCommand();
        break;
    case 4:
        removeCommand();
        break;
    case 5:
        playCommand();
        break;
    case 6:
        nextSongCommand();
        break;
    case 7:
        volumeCommand();
        break;
    case 8:
        OrganizeList_Click(0);
        break;
    case 9:
        OrganizeList_Click(1);
        break;
    default:
        break;
    }
}

void Form1::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    Form_Paint();
}

void Form1::closeEvent(QCloseEvent *event)
{
    qint16 cancel = 0;
    Form_QueryUnload(cancel, 0);
    if (cancel != 0)
        event->ignore();
    else
        event->accept();
}

void Form1::centreOnScreen()
{
    if (const QScreen *screen = QApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
