// Saves the screen of an X display as a picture: under a virtual X server, whatever another
// program (the IDE) shows there. Run with QT_QPA_PLATFORM=xcb and DISPLAY set.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: screengrab FILE.png" << Qt::endl;
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    // Window 0 is the root window: the whole screen with every window on it.
    const QPixmap picture = screen ? screen->grabWindow(0) : QPixmap();
    if (picture.isNull() || !picture.save(arguments.at(1))) {
        QTextStream(stderr) << "screengrab: cannot save the screen to " << arguments.at(1)
                            << Qt::endl;
        return 1;
    }
    return 0;
}
