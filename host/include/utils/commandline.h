#pragma once

#include "utils_global.h"

#include "filepath.h"

#include <QStringList>

namespace Utils {

// An executable and its arguments.
class QTCREATOR_UTILS_EXPORT CommandLine
{
public:
    CommandLine() = default;
    CommandLine(const FilePath &executable, const QStringList &arguments = {});

    void addArg(const QString &arg);
    void addArgs(const QStringList &args);

    FilePath executable() const { return m_executable; }
    void setExecutable(const FilePath &executable) { m_executable = executable; }
    QStringList splitArguments() const { return m_arguments; }
    QString arguments() const;
    bool isEmpty() const { return m_executable.isEmpty(); }

    // The command as a shell would show it, arguments quoted where needed.
    QString toUserOutput() const;

private:
    FilePath m_executable;
    QStringList m_arguments;
};

} // namespace Utils
