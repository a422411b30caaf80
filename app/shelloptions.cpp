#include "shelloptions.h"

#include <QCoreApplication>

namespace Shell {

static QString tr(const char *text)
{
    return QCoreApplication::translate("Shell::ShellOptions", text);
}

ShellOptions ShellOptions::parse(const QStringList &arguments, QString *error)
{
    ShellOptions options;
    error->clear();
    const auto takeValue = [&](qsizetype &i, const QString &name) -> QString {
        if (i + 1 >= arguments.size()) {
            *error = tr("The option %1 needs a value.").arg(name);
            return {};
        }
        return arguments.at(++i);
    };
    const auto takeNumber = [&](qsizetype &i, const QString &name, int minimum) -> int {
        const QString text = takeValue(i, name);
        if (!error->isEmpty())
            return 0;
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < minimum)
            *error = tr("The option %1 needs a number of at least %2, not \"%3\".")
                         .arg(name).arg(minimum).arg(text);
        return value;
    };

    // The first argument is the program.
    for (qsizetype i = 1; i < arguments.size() && error->isEmpty(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("-settingspath")) {
            options.settingsPath = takeValue(i, argument);
        } else if (argument == QLatin1String("-pluginpath")) {
            options.pluginPath = takeValue(i, argument);
        } else if (argument == QLatin1String("--headless")) {
            options.headless = true;
        } else if (argument == QLatin1String("--screenshot")) {
            options.screenshotFile = takeValue(i, argument);
        } else if (argument == QLatin1String("--preferences-page")) {
            options.preferencesPage = takeValue(i, argument);
        } else if (argument == QLatin1String("--timeout")) {
            options.timeoutSeconds = takeNumber(i, argument, 1);
        } else if (argument == QLatin1String("--idle")) {
            options.idleMilliseconds = takeNumber(i, argument, 0);
        } else if (argument == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-help")
                   || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            *error = tr("Unknown option %1.").arg(argument);
        } else {
            options.pluginArguments.append(argument);
        }
    }
    if (error->isEmpty() && options.headless && !options.screenshotFile.isEmpty())
        *error = tr("--screenshot renders the window and cannot be combined with --headless.");
    if (error->isEmpty() && !options.preferencesPage.isEmpty() && options.screenshotFile.isEmpty())
        *error = tr("--preferences-page is only used with --screenshot.");
    return options;
}

QString ShellOptions::usage(const QString &program)
{
    return tr("Usage: %1 [options]\n"
              "\n"
              "  -settingspath DIR     user settings in DIR/QtProject/QtCreator.ini\n"
              "  -pluginpath DIR       load the plugins of DIR (default: <bin>/../lib/qtcreator/plugins)\n"
              "  --headless            no window: let the plugins do their start-up work, print the\n"
              "                        examples of the Welcome screen and exit\n"
              "  --screenshot FILE     open the window, wait until the work is done, save a picture of\n"
              "                        the window as FILE and exit\n"
              "  --preferences-page ID with --screenshot: picture the Preferences dialog on page ID\n"
              "  --timeout SECONDS     give up waiting for the plugins after SECONDS (default 120)\n"
              "  --idle MS             quiet time that marks the end of the work (default 1000)\n"
              "  --verbose             print the plugins' log to stderr\n"
              "\n"
              "Exit codes: 0 done; 1 an installation, download or repository failed; 2 a plugin\n"
              "could not be loaded or the options are wrong; 3 the work did not end in time.\n")
        .arg(program);
}

} // namespace Shell
