#pragma once

// The status texts the plugin logs, the API client's included, while a StatusLog exists.

#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

class StatusLog
{
public:
    StatusLog()
    {
        QMutexLocker locker(&s_mutex);
        s_lines.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("zel.tidepool.plugin*.debug=true"));
        m_previous = qInstallMessageHandler(&StatusLog::handler);
    }
    ~StatusLog()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules({});
    }
    StatusLog(const StatusLog &) = delete;
    StatusLog &operator=(const StatusLog &) = delete;

    static QStringList lines()
    {
        QMutexLocker locker(&s_mutex);
        return s_lines;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        static const QString prefix = QStringLiteral("Status: \"");
        if (type != QtDebugMsg || !message.startsWith(prefix) || !message.endsWith(u'"'))
            return;
        QMutexLocker locker(&s_mutex);
        s_lines.append(message.mid(prefix.size(), message.size() - prefix.size() - 1));
    }

    QtMessageHandler m_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
};
