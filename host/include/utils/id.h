#pragma once

#include "utils_global.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <QVariant>

namespace Utils {

// An interned string: cheap to copy and compare, used to name pages, categories and the like.
class QTCREATOR_UTILS_EXPORT Id
{
public:
    Id() = default;
    Id(const char *name); // Intentionally implicit.
    Id(const QLatin1String &) = delete;

    Id withSuffix(int suffix) const;
    Id withSuffix(const char *suffix) const;
    Id withSuffix(const QString &suffix) const;

    QByteArray name() const;
    QString toString() const;
    QVariant toSetting() const;
    bool isValid() const { return m_id != 0; }

    bool operator==(Id id) const { return m_id == id.m_id; }
    bool operator!=(Id id) const { return m_id != id.m_id; }
    bool operator<(Id id) const { return m_id < id.m_id; }
    bool operator>(Id id) const { return m_id > id.m_id; }

    static Id fromString(const QString &str);
    static Id fromName(const QByteArray &name);
    static Id fromSetting(const QVariant &variant);

    friend size_t qHash(Id id, size_t seed = 0) { return qHash(id.m_id, seed); }

private:
    explicit Id(quintptr uid) : m_id(uid) {}

    quintptr m_id = 0;
};

} // namespace Utils

QT_BEGIN_NAMESPACE
class QDebug;
QTCREATOR_UTILS_EXPORT QDebug operator<<(QDebug dbg, const Utils::Id &id);
QT_END_NAMESPACE

Q_DECLARE_METATYPE(Utils::Id)
