#pragma once

// A small CMake project as the local GitLab server serves it: a project file at the top of its
// folder and a source file to open.

#include <gitlabserver.h>

#include <QDateTime>

namespace TestProject {

inline LocalGitLab::ProjectData project(const QString &path, const QDateTime &lastActivity = {})
{
    LocalGitLab::ProjectData result;
    result.path = path;
    result.name = QStringLiteral("Example %1").arg(path);
    result.description = QStringLiteral("About %1").arg(path);
    result.lastActivity = lastActivity;
    result.files = {{QStringLiteral("CMakeLists.txt"), "project(example)\n"},
                    {QStringLiteral("src/main.cpp"), "int main(int argc, char *argv[]) {}\n"}};
    return result;
}

} // namespace TestProject
