#include "traffic.h"

namespace LocalGitLab {

int Traffic::addFault(std::optional<Route> route, const std::optional<QRegularExpression> &pattern,
                      const Fault &fault, int times)
{
    QMutexLocker lock(&m_mutex);
    if (times == 0)
        return 0;
    Rule rule{m_nextId++, route, pattern, fault, times};
    m_rules.append(rule);
    return rule.id;
}

void Traffic::removeFault(int faultId)
{
    QMutexLocker lock(&m_mutex);
    m_rules.removeIf([faultId](const Rule &rule) { return rule.id == faultId; });
}

void Traffic::clearFaults()
{
    QMutexLocker lock(&m_mutex);
    m_rules.clear();
}

Fault Traffic::record(const QByteArray &method, const QString &target, Route route)
{
    QMutexLocker lock(&m_mutex);
    m_log.append({QString::fromLatin1(method) + QLatin1Char(' ') + target, route});
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        if (it->route && *it->route != Route::Any && *it->route != route)
            continue;
        if (it->pattern && !it->pattern->match(target).hasMatch())
            continue;
        const Fault fault = it->fault;
        if (it->remaining > 0 && --it->remaining == 0)
            m_rules.erase(it);
        return fault;
    }
    return {};
}

QStringList Traffic::log() const
{
    QMutexLocker lock(&m_mutex);
    QStringList lines;
    for (const Entry &entry : m_log)
        lines.append(entry.line);
    return lines;
}

int Traffic::count(Route route) const
{
    QMutexLocker lock(&m_mutex);
    if (route == Route::Any)
        return int(m_log.size());
    return int(std::count_if(m_log.cbegin(), m_log.cend(),
                             [route](const Entry &entry) { return entry.route == route; }));
}

void Traffic::clearLog()
{
    QMutexLocker lock(&m_mutex);
    m_log.clear();
}

} // namespace LocalGitLab
