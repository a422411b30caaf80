#include "shelloptions.h"
#include "shellrunner.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QString error;
    const Shell::ShellOptions options = Shell::ShellOptions::parse(arguments, &error);

    // Headless runs and pictures need no display.
    if ((options.headless || !options.screenshotFile.isEmpty())
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tidepool-ide"));
    QApplication::setOrganizationName(QStringLiteral("QtProject"));

    if (!error.isEmpty()) {
        QTextStream(stderr) << QApplication::applicationName() << ": " << error << Qt::endl
                            << Shell::ShellOptions::usage(QApplication::applicationName());
        return Shell::ShellRunner::SetupFailed;
    }
    if (options.help) {
        QTextStream(stdout) << Shell::ShellOptions::usage(QApplication::applicationName());
        return 0;
    }
    Shell::ShellRunner runner(options);
    return runner.exec();
}
