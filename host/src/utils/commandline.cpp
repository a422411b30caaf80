#include <utils/commandline.h>

#include <QRegularExpression>

namespace Utils {

static QString quoted(const QString &arg)
{
    static const QRegularExpression needsQuoting(QStringLiteral("[^-\\w%{}./=:@,+]"));
    if (arg.isEmpty())
        return QStringLiteral("''");
    if (!arg.contains(needsQuoting))
        return arg;
    QString escaped = arg;
    escaped.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

CommandLine::CommandLine(const FilePath &executable, const QStringList &arguments)
    : m_executable(executable)
    , m_arguments(arguments)
{}

void CommandLine::addArg(const QString &arg)
{
    m_arguments.append(arg);
}

void CommandLine::addArgs(const QStringList &args)
{
    m_arguments.append(args);
}

QString CommandLine::arguments() const
{
    QStringList parts;
    for (const QString &arg : m_arguments)
        parts.append(quoted(arg));
    return parts.join(QLatin1Char(' '));
}

QString CommandLine::toUserOutput() const
{
    const QString exe = quoted(m_executable.toUserOutput());
    return m_arguments.isEmpty() ? exe : exe + QLatin1Char(' ') + arguments();
}

} // namespace Utils
