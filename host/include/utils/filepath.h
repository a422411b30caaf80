#pragma once

#include "utils_global.h"

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

QT_BEGIN_NAMESPACE
class QDebug;
QT_END_NAMESPACE

namespace Utils {

// A path to a file or folder on the local file system.
class QTCREATOR_UTILS_EXPORT FilePath
{
public:
    FilePath() = default;

    template <size_t N>
    FilePath(const char (&literal)[N]) : m_path(QString::fromUtf8(literal, qsizetype(qstrnlen(literal, N))))
    {}

    [[nodiscard]] static FilePath fromString(const QString &filepath);
    [[nodiscard]] static FilePath fromUserInput(const QString &filepath);
    [[nodiscard]] static FilePath fromUtf8(const char *filepath, int filepathSize = -1);

    QString toString() const { return m_path; }
    [[nodiscard]] QString toFSPathString() const { return m_path; }
    QString toUserOutput() const;
    QString path() const { return m_path; }
    QString fileName() const;
    QString baseName() const;
    QString completeSuffix() const;

    bool isEmpty() const { return m_path.isEmpty(); }
    bool isAbsolutePath() const;
    bool exists() const;
    bool isDir() const;
    bool isFile() const;
    bool isWritableDir() const;
    bool ensureWritableDir() const;
    bool removeFile() const;
    bool removeRecursively(QString *error = nullptr) const;

    [[nodiscard]] FilePath parentDir() const;
    [[nodiscard]] FilePath absoluteFilePath() const;
    [[nodiscard]] FilePath cleanPath() const;
    [[nodiscard]] FilePath operator/(const QString &str) const;
    [[nodiscard]] FilePath pathAppended(const QString &str) const;
    [[nodiscard]] FilePath resolvePath(const QString &tail) const;
    [[nodiscard]] bool isChildOf(const FilePath &parent) const;

    bool operator==(const FilePath &other) const;
    bool operator!=(const FilePath &other) const { return !(*this == other); }
    bool operator<(const FilePath &other) const;

    friend QTCREATOR_UTILS_EXPORT size_t qHash(const FilePath &a, size_t seed);
    friend size_t qHash(const FilePath &a) { return qHash(a, 0); }

private:
    QString m_path;
};

using FilePaths = QList<FilePath>;

} // namespace Utils

QT_BEGIN_NAMESPACE
QTCREATOR_UTILS_EXPORT QDebug operator<<(QDebug dbg, const Utils::FilePath &c);
QT_END_NAMESPACE

Q_DECLARE_METATYPE(Utils::FilePath)
