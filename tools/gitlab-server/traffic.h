#pragma once

#include "gitlabserver.h"

#include <QMutex>

#include <atomic>
#include <optional>

namespace LocalGitLab {

// What the server has seen and what it is told to do wrong; thread-safe.
class Traffic
{
public:
    int addFault(std::optional<Route> route, const std::optional<QRegularExpression> &pattern,
                 const Fault &fault, int times);
    void removeFault(int faultId);
    void clearFaults();

    // Logs one request and hands back the fault to apply to it (kind None when there is none).
    Fault record(const QByteArray &method, const QString &target, Route route);

    QStringList log() const;
    int count(Route route) const;
    void clearLog();

    void connectionOpened() { ++m_connections; }
    void connectionClosed() { --m_connections; }
    int openConnections() const { return m_connections; }

private:
    struct Rule
    {
        int id = 0;
        std::optional<Route> route;
        std::optional<QRegularExpression> pattern;
        Fault fault;
        int remaining = -1;
    };
    struct Entry
    {
        QString line;
        Route route;
    };

    mutable QMutex m_mutex;
    QList<Rule> m_rules;
    QList<Entry> m_log;
    int m_nextId = 1;
    std::atomic_int m_connections = 0;
};

} // namespace LocalGitLab
