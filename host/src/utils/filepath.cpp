#include <utils/filepath.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Utils {

FilePath FilePath::fromString(const QString &filepath)
{
    FilePath result;
    result.m_path = filepath;
    return result;
}

FilePath FilePath::fromUserInput(const QString &filepath)
{
    QString path = filepath.trimmed();
    if (path == QLatin1String("~"))
        path = QDir::homePath();
    else if (path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    return fromString(path.isEmpty() ? path : QDir::cleanPath(QDir::fromNativeSeparators(path)));
}

FilePath FilePath::fromUtf8(const char *filepath, int filepathSize)
{
    return fromString(QString::fromUtf8(filepath, filepathSize));
}

QString FilePath::toUserOutput() const
{
    return QDir::toNativeSeparators(m_path);
}

QString FilePath::fileName() const
{
    return m_path.mid(m_path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FilePath::baseName() const
{
    const QString name = fileName();
    return name.left(name.indexOf(QLatin1Char('.')));
}

QString FilePath::completeSuffix() const
{
    const QString name = fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

bool FilePath::isAbsolutePath() const
{
    return !m_path.isEmpty() && QDir::isAbsolutePath(m_path);
}

bool FilePath::exists() const
{
    return !m_path.isEmpty() && QFileInfo::exists(m_path);
}

bool FilePath::isDir() const
{
    return !m_path.isEmpty() && QFileInfo(m_path).isDir();
}

bool FilePath::isFile() const
{
    return !m_path.isEmpty() && QFileInfo(m_path).isFile();
}

bool FilePath::isWritableDir() const
{
    const QFileInfo info(m_path);
    return !m_path.isEmpty() && info.isDir() && info.isWritable();
}

bool FilePath::ensureWritableDir() const
{
    if (m_path.isEmpty())
        return false;
    if (isWritableDir())
        return true;
    return QDir().mkpath(m_path) && isWritableDir();
}

bool FilePath::removeFile() const
{
    return QFile::remove(m_path);
}

bool FilePath::removeRecursively(QString *error) const
{
    if (!isDir()) {
        const bool removed = !exists() || QFile::remove(m_path);
        if (!removed && error)
            *error = QStringLiteral("Failed to remove file \"%1\".").arg(toUserOutput());
        return removed;
    }
    const bool removed = QDir(m_path).removeRecursively();
    if (!removed && error)
        *error = QStringLiteral("Failed to remove directory \"%1\".").arg(toUserOutput());
    return removed;
}

FilePath FilePath::parentDir() const
{
    const QString clean = QDir::cleanPath(m_path);
    if (clean.isEmpty() || clean == QLatin1String("/") || clean == QLatin1String("."))
        return {};
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return fromString(QStringLiteral("."));
    if (slash == 0)
        return fromString(QStringLiteral("/"));
    return fromString(clean.left(slash));
}

FilePath FilePath::absoluteFilePath() const
{
    return fromString(QFileInfo(m_path).absoluteFilePath());
}

FilePath FilePath::cleanPath() const
{
    return m_path.isEmpty() ? FilePath() : fromString(QDir::cleanPath(m_path));
}

FilePath FilePath::operator/(const QString &str) const
{
    return pathAppended(str);
}

FilePath FilePath::pathAppended(const QString &str) const
{
    if (str.isEmpty())
        return *this;
    if (m_path.isEmpty())
        return fromString(str);
    QString tail = str;
    while (tail.startsWith(QLatin1Char('/')))
        tail.remove(0, 1);
    if (m_path.endsWith(QLatin1Char('/')))
        return fromString(m_path + tail);
    return fromString(m_path + QLatin1Char('/') + tail);
}

FilePath FilePath::resolvePath(const QString &tail) const
{
    if (QDir::isAbsolutePath(tail))
        return fromString(QDir::cleanPath(tail));
    return fromString(QDir::cleanPath(pathAppended(tail).m_path));
}

bool FilePath::isChildOf(const FilePath &parent) const
{
    if (parent.isEmpty())
        return false;
    const QString self = QDir::cleanPath(m_path);
    QString base = QDir::cleanPath(parent.m_path);
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return self.startsWith(base) && self.size() > base.size();
}

bool FilePath::operator==(const FilePath &other) const
{
    return m_path == other.m_path;
}

bool FilePath::operator<(const FilePath &other) const
{
    return m_path < other.m_path;
}

size_t qHash(const FilePath &a, size_t seed)
{
    return qHash(a.m_path, seed);
}

} // namespace Utils

QDebug operator<<(QDebug dbg, const Utils::FilePath &c)
{
    return dbg << c.toString();
}
