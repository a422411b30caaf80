#include <utils/id.h>

#include <QDebug>
#include <QHash>
#include <QList>
#include <QReadWriteLock>

namespace Utils {

namespace {

// Names are interned once and never released; an Id is the index of its name plus one.
struct IdRegistry
{
    QReadWriteLock lock;
    QHash<QByteArray, quintptr> idForName;
    QList<QByteArray> names;
};

IdRegistry &registry()
{
    static IdRegistry instance;
    return instance;
}

quintptr idForName(QByteArrayView name)
{
    if (name.isEmpty())
        return 0;
    IdRegistry &r = registry();
    const QByteArray key = name.toByteArray();
    {
        QReadLocker locker(&r.lock);
        const auto it = r.idForName.constFind(key);
        if (it != r.idForName.constEnd())
            return it.value();
    }
    QWriteLocker locker(&r.lock);
    const auto it = r.idForName.constFind(key);
    if (it != r.idForName.constEnd())
        return it.value();
    r.names.append(key);
    const quintptr id = quintptr(r.names.size());
    r.idForName.insert(key, id);
    return id;
}

} // namespace

Id::Id(const char *name)
    : m_id(name ? idForName(QByteArrayView(name)) : 0)
{}

QByteArray Id::name() const
{
    if (m_id == 0)
        return {};
    IdRegistry &r = registry();
    QReadLocker locker(&r.lock);
    return r.names.value(qsizetype(m_id - 1));
}

QString Id::toString() const
{
    return QString::fromUtf8(name());
}

QVariant Id::toSetting() const
{
    return QVariant(toString());
}

Id Id::withSuffix(int suffix) const
{
    return fromName(name() + QByteArray::number(suffix));
}

Id Id::withSuffix(const char *suffix) const
{
    return fromName(name() + suffix);
}

Id Id::withSuffix(const QString &suffix) const
{
    return fromName(name() + suffix.toUtf8());
}

Id Id::fromString(const QString &str)
{
    return Id(idForName(str.toUtf8()));
}

Id Id::fromName(const QByteArray &name)
{
    return Id(idForName(name));
}

Id Id::fromSetting(const QVariant &variant)
{
    return fromString(variant.toString());
}

} // namespace Utils

QDebug operator<<(QDebug dbg, const Utils::Id &id)
{
    return dbg << id.name();
}
