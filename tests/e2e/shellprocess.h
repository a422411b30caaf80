#pragma once

#include <QDateTime>
#include <QProcessEnvironment>
#include <QStringList>

// One fresh user of the IDE shell: a settings folder, a data location, and the runs of the built
// shell binary against them.
class ShellUser
{
public:
    explicit ShellUser(const QString &root);

    QString settingsPath() const { return m_root + "/settings"; }
    QString dataHome() const { return m_root + "/data"; }
    QString settingsFile() const { return settingsPath() + "/QtProject/QtCreator.ini"; }
    // The folder the SDK installer registers for a repository.
    QString repositoryFolder(const QString &name) const;

    // Configures a repository and registers its folder with the Welcome screen, as the SDK's
    // installer does.
    void addRepository(const QString &name, const QString &url);
    void setCheckedDate(const QString &name, const QDate &date);

    struct Run
    {
        int exitCode = -1;
        bool finished = false;
        qint64 milliseconds = 0;
        QString out;
        QString err;
        QList<QStringList> rows;   // the table below its header
        QString summary;

        QStringList column(int index) const;
        QStringList row(const QString &name) const;
    };

    Run run(const QStringList &arguments = {}, int timeoutMs = 120000,
            const QStringList &environment = {}) const;

private:
    QString m_root;
};
