#include "notewindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VeyraExamples"));
    QCoreApplication::setApplicationName(QStringLiteral("Notes"));
    NoteWindow window;
    window.resize(640, 420);
    window.show();
    return app.exec();
}
