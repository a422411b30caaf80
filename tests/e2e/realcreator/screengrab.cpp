// Saves the whole screen of an X display (QT_QPA_PLATFORM=xcb, DISPLAY set) as a picture.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QScreen *screen = QGuiApplication::primaryScreen();
    // Window 0 is the root window: the whole screen with every window on it.
    const QPixmap picture = screen && arguments.size() == 2 ? screen->grabWindow(0) : QPixmap();
    if (picture.isNull() || !picture.save(arguments.at(1))) {
        QTextStream(stderr) << "usage: screengrab FILE.png; the screen could not be saved" << Qt::endl;
        return 1;
    }
    return 0;
}
