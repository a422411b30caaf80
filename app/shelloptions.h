#pragma once

#include <QString>
#include <QStringList>

namespace Shell {

// The command line of the shell. Single-dash options are the IDE's own (-settingspath,
// -pluginpath); double-dash options belong to the shell.
struct ShellOptions
{
    QString settingsPath;
    QString pluginPath;            // empty: <binary dir>/../lib/qtcreator/plugins
    bool headless = false;
    QString screenshotFile;        // render the main window there once the work is done
    QString preferencesPage;       // with --screenshot: open this options page and render it
    int timeoutSeconds = 120;      // safety net of a headless run
    int idleMilliseconds = 1000;   // quiet time that ends a headless run once nothing is pending
    bool verbose = false;
    bool help = false;
    QStringList pluginArguments;   // everything the shell does not know, handed to the plugins

    static ShellOptions parse(const QStringList &arguments, QString *error);
    static QString usage(const QString &program);
};

} // namespace Shell
