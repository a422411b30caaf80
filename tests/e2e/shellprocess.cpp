#include "shellprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

ShellUser::ShellUser(const QString &root)
    : m_root(root)
{
    QDir().mkpath(settingsPath() + "/QtProject");
    QDir().mkpath(dataHome());
}

QString ShellUser::repositoryFolder(const QString &name) const
{
    return dataHome() + "/VeyraSDK/" + name;
}

void ShellUser::addRepository(const QString &name, const QString &url)
{
    QDir().mkpath(repositoryFolder(name));
    QSettings settings(settingsFile(), QSettings::IniFormat);
    const QString folder = repositoryFolder(name);
    settings.setValue("Help/InstalledExamples",
                      settings.value("Help/InstalledExamples").toStringList()
                          << QString("%1|%2|%2").arg(name, folder));
    settings.setValue("Tidepool/Repositories",
                      settings.value("Tidepool/Repositories").toStringList()
                          << QString("%1|%2|").arg(name, url));
}

void ShellUser::setCheckedDate(const QString &name, const QDate &date)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    QStringList dates;
    for (const QString &item : settings.value("Tidepool/UpdatesCheckedDate").toStringList()) {
        if (!item.startsWith(name + '|'))
            dates.append(item);
    }
    dates.append(name + '|' + date.toString("dd.MM.yyyy"));
    settings.setValue("Tidepool/UpdatesCheckedDate", dates);
}

ShellUser::Run ShellUser::run(const QStringList &arguments, int timeoutMs,
                              const QStringList &extraEnvironment) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", dataHome());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("QT_LOGGING_RULES");
    environment.remove("ORVIK_SDK_NAME");
    for (const QString &variable : extraEnvironment)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process.setProcessEnvironment(environment);

    QStringList allArguments{"-settingspath", settingsPath()};
    if (!arguments.contains("--screenshot"))
        allArguments.append("--headless");
    // The shell's own safety net ends a stuck run before the test gives up on the process.
    if (!arguments.contains("--timeout"))
        allArguments += {"--timeout", QString::number(qMax(1, timeoutMs / 2000))};
    allArguments += arguments;
    QElapsedTimer timer;
    timer.start();
    process.start(TIDEPOOL_SHELL, allArguments);

    Run run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.milliseconds = timer.elapsed();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());

    static const QRegularExpression columns("\\s{2,}");
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith("Summary:"))
            run.summary = lines.at(i);
        else if (i > 0 && !lines.at(0).startsWith("SET"))
            continue;
        else if (i > 0)
            run.rows.append(lines.at(i).split(columns));
    }
    return run;
}

QStringList ShellUser::Run::column(int index) const
{
    QStringList values;
    for (const QStringList &row : rows)
        values.append(row.value(index));
    return values;
}

QStringList ShellUser::Run::row(const QString &name) const
{
    for (const QStringList &row : rows) {
        if (row.value(1) == name)
            return row;
    }
    return {};
}
