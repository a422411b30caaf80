#pragma once

#include "utils_global.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHashFunctions>
#include <QString>

namespace Utils {

// A settings key. Keys are made from string literals, byte arrays or, for text known only at run
// time, keyFromString(). There is deliberately no conversion from a char pointer or a QString.
class QTCREATOR_UTILS_EXPORT Key
{
public:
    Key() = default;
    Key(const QByteArray &key) : data(key) {}
    Key(QByteArray &&key) : data(std::move(key)) {}

    template <int N>
    Key(const char (&key)[N]) : data(key, int(qstrnlen(key, N)))
    {}

    Key(const char *key, size_t n) : data(key, qsizetype(n)) {}
    Key(const Key &base, int number);
    ~Key() = default;

    Key(const Key &) = default;
    Key(Key &&) = default;
    Key &operator=(const Key &) = default;
    Key &operator=(Key &&) = default;

    const QByteArrayView view() const { return data; }
    const QByteArray &toByteArray() const { return data; }
    bool isEmpty() const { return data.isEmpty(); }
    void append(char ch) { data.append(ch); }

    friend bool operator<(const Key &a, const Key &b) { return a.data < b.data; }
    friend bool operator==(const Key &a, const Key &b) { return a.data == b.data; }
    friend bool operator!=(const Key &a, const Key &b) { return a.data != b.data; }

    friend Key operator+(const Key &a, const Key &b) { return Key(a.data + b.data); }
    friend Key operator+(const Key &a, char b) { return Key(a.data + b); }
    friend size_t qHash(const Key &key, size_t seed = 0) { return qHash(key.data, seed); }

private:
    QByteArray data;
};

QTCREATOR_UTILS_EXPORT Key keyFromString(const QString &str);
QTCREATOR_UTILS_EXPORT QString stringFromKey(const Key &key);

} // namespace Utils
