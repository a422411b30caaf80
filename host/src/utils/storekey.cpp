#include <utils/storekey.h>

namespace Utils {

Key::Key(const Key &base, int number)
    : data(base.data + QByteArray::number(number))
{}

Key keyFromString(const QString &str)
{
    return Key(str.toUtf8());
}

QString stringFromKey(const Key &key)
{
    return QString::fromUtf8(key.toByteArray());
}

} // namespace Utils
