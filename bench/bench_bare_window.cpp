// A bare Qt window with a title, shown and left running: the reference for start-up time.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare Qt window"));
    window.resize(278, 245);
    window.show();
    return QApplication::exec();
}
