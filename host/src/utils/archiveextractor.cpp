#include "archiveextractor.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

#include <sys/stat.h>

namespace Utils::Internal {

static QString tr(const char *text)
{
    return QCoreApplication::translate("Utils::Unarchiver", text);
}

namespace {

struct ReadArchiveDeleter
{
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteArchiveDeleter
{
    void operator()(archive *a) const { archive_write_free(a); }
};
using ReadArchive = std::unique_ptr<archive, ReadArchiveDeleter>;
using WriteArchive = std::unique_ptr<archive, WriteArchiveDeleter>;

constexpr size_t readBlockSize = 64 * 1024;
constexpr qsizetype maxPathLength = 4000;

ReadArchive openArchive(const QString &sourceFile, ArchiveKind kind)
{
    ReadArchive a(archive_read_new());
    archive_read_support_filter_all(a.get());
    if (kind == ArchiveKind::GZipFile) {
        archive_read_support_format_raw(a.get());
    } else {
        // The formats the IDE's unarchiving tools handle. Deliberately not "all": formats such as
        // mtree would accept plain text files.
        archive_read_support_format_tar(a.get());
        archive_read_support_format_zip(a.get());
        archive_read_support_format_7zip(a.get());
        archive_read_support_format_cpio(a.get());
    }
    const QByteArray path = QFile::encodeName(sourceFile);
    if (archive_read_open_filename(a.get(), path.constData(), readBlockSize) != ARCHIVE_OK)
        return {};
    return a;
}

// A file that is one compressed file rather than a compressed archive: by name, as gzip itself
// decides what to call the result, and by content.
bool isPlainGZipFile(const QString &sourceFile)
{
    const QString name = QFileInfo(sourceFile).fileName().toLower();
    if (!name.endsWith(QLatin1String(".gz")) || name.endsWith(QLatin1String(".tar.gz")))
        return false;
    QFile file(sourceFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray magic = file.read(2);
    return magic.size() == 2 && quint8(magic.at(0)) == 0x1f && quint8(magic.at(1)) == 0x8b;
}

// The path of an entry split into its components, or why it is refused.
struct EntryPath
{
    QList<QByteArray> components;
    QString error;
};

EntryPath splitEntryPath(const QByteArray &path)
{
    EntryPath result;
    if (path.startsWith('/')) {
        result.error = tr("the path is absolute");
        return result;
    }
    const QList<QByteArray> parts = path.split('/');
    for (const QByteArray &part : parts) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            result.error = tr("the path contains \"..\"");
            return result;
        }
        result.components.append(part);
    }
    return result;
}

// A symbolic link may only point into the destination. Its ".." components must all lead the
// target: they climb from the link's own folder, which is a real folder inside the destination,
// so counting them is exact. A ".." after a name could climb back out of a folder reached through
// another link, so it is refused.
bool symlinkStaysInside(const QList<QByteArray> &linkComponents, const QByteArray &target)
{
    if (target.isEmpty() || target.startsWith('/'))
        return false;
    qsizetype depth = linkComponents.size() - 1;
    bool seenName = false;
    const QList<QByteArray> parts = target.split('/');
    for (const QByteArray &part : parts) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (seenName || --depth < 0)
                return false;
        } else {
            seenName = true;
        }
    }
    return true;
}

QByteArray joinedPath(const QByteArray &root, const QList<QByteArray> &components,
                      qsizetype count = -1)
{
    QByteArray path = root;
    if (count < 0)
        count = components.size();
    for (qsizetype i = 0; i < count; ++i)
        path += '/' + components.at(i);
    return path;
}

enum class Existing { None, Directory, Symlink, Other };

Existing lstatKind(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return Existing::None;
    if (S_ISLNK(st.st_mode))
        return Existing::Symlink;
    if (S_ISDIR(st.st_mode))
        return Existing::Directory;
    return Existing::Other;
}

// Every folder on the way to the entry that exists already must be a real folder, not a link:
// writing through a link could land anywhere. Folders already found real during this run are
// not looked at again: no later entry may replace a folder (see extractArchive), so they stay so.
QString checkParents(const QByteArray &root, const QList<QByteArray> &components,
                     const QSet<QByteArray> &realFolders)
{
    for (qsizetype i = components.size() - 1; i >= 1; --i) {
        if (realFolders.contains(joinedPath(root, components, i))) {
            // Everything above a known folder was known before it.
            break;
        }
        const Existing kind = lstatKind(joinedPath(root, components, i));
        if (kind == Existing::None)
            continue;
        if (kind == Existing::Symlink)
            return tr("the path leads through a symbolic link");
        if (kind != Existing::Directory)
            return tr("a parent of the path is not a folder");
    }
    return {};
}

QString displayName(const char *path)
{
    // Names need not be UTF-8; fromUtf8 substitutes what it cannot decode.
    return QString::fromUtf8(path);
}

} // namespace

ArchiveProbe probeArchive(const QString &sourceFile)
{
    ArchiveProbe probe;
    if (!QFileInfo(sourceFile).isFile())
        return probe;
    for (const ArchiveKind kind : {ArchiveKind::Archive, ArchiveKind::GZipFile}) {
        if (kind == ArchiveKind::GZipFile && !isPlainGZipFile(sourceFile))
            break;
        ReadArchive a = openArchive(sourceFile, kind);
        if (!a)
            continue;
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(a.get(), &entry);
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
            continue;
        // Raw reading accepts any stream; the start of the data must also decompress.
        char first[512];
        if (kind == ArchiveKind::GZipFile && archive_read_data(a.get(), first, sizeof first) < 0)
            continue;
        {
            probe.ok = true;
            probe.kind = kind;
            probe.format = archive_format(a.get());
            probe.filter = archive_filter_code(a.get(), 0);
            return probe;
        }
    }
    return probe;
}

ArchiveExtractor::ArchiveExtractor(const ExtractionRequest &request,
                                   const std::atomic_bool &canceled, const Output &output)
    : m_request(request)
    , m_canceled(canceled)
    , m_output(output)
{}

bool ArchiveExtractor::run()
{
    if (!QDir().mkpath(m_request.destDir))
        return fail(tr("Cannot create the folder \"%1\".").arg(QDir::toNativeSeparators(m_request.destDir)));
    return m_request.kind == ArchiveKind::GZipFile ? extractGZipFile() : extractArchive();
}

bool ArchiveExtractor::fail(const QString &message)
{
    m_output(message + QLatin1Char('\n'));
    return false;
}

bool ArchiveExtractor::extractArchive()
{
    // Resolve the destination once: the checks below compare against real paths.
    const QString canonicalDest = QFileInfo(m_request.destDir).canonicalFilePath();
    if (canonicalDest.isEmpty())
        return fail(tr("Cannot access the folder \"%1\".").arg(QDir::toNativeSeparators(m_request.destDir)));
    const QByteArray root = QFile::encodeName(canonicalDest == QLatin1String("/") ? QString()
                                                                                  : canonicalDest);

    ReadArchive reader = openArchive(m_request.sourceFile, ArchiveKind::Archive);
    if (!reader)
        return fail(tr("Cannot open the archive \"%1\".").arg(QDir::toNativeSeparators(m_request.sourceFile)));

    WriteArchive writer(archive_write_disk_new());
    // Absolute paths are refused below, before the entry's name is made absolute by prefixing the
    // destination; the libarchive flag for them would refuse the prefixed names too. Links on the
    // way are refused below as well: libarchive's own check for them opens and examines every
    // folder from the file system's root down, for every entry, which costs more than writing
    // the files of a typical source tree.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT);

    // The folders inside the destination known to be real folders: checked, or made by the
    // writer on the way to an entry. Keys are absolute paths, as joinedPath() builds them.
    QSet<QByteArray> realFolders;

    qint64 entries = 0;
    qint64 totalBytes = 0;
    archive_entry *entry = nullptr;
    for (;;) {
        if (m_canceled)
            return false;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return fail(tr("Cannot read the archive: %1").arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));

        if (++entries > m_request.maxEntries)
            return fail(tr("The archive has more than %1 entries.").arg(m_request.maxEntries));

        const char *rawPath = archive_entry_pathname(entry);
        if (!rawPath)
            rawPath = archive_entry_pathname_utf8(entry);
        if (!rawPath)
            return fail(tr("An entry of the archive has no readable name."));
        const QByteArray path(rawPath);
        const QString name = displayName(rawPath);
        const auto refuse = [this, &name](const QString &reason) {
            return fail(tr("Refusing \"%1\": %2.").arg(name, reason));
        };

        const EntryPath entryPath = splitEntryPath(path);
        if (!entryPath.error.isEmpty())
            return refuse(entryPath.error);
        if (entryPath.components.isEmpty()) {
            m_output(name + QLatin1Char('\n'));
            continue; // "./" and the like: the destination itself
        }

        const char *hardlink = archive_entry_hardlink(entry);
        const mode_t type = archive_entry_filetype(entry);
        if (hardlink) {
            const EntryPath target = splitEntryPath(QByteArray(hardlink));
            if (!target.error.isEmpty() || target.components.isEmpty())
                return refuse(tr("the hard link points outside the destination"));
            const QString parentError = checkParents(root, target.components, realFolders);
            if (!parentError.isEmpty())
                return refuse(tr("the hard link's target: %1").arg(parentError));
            if (lstatKind(joinedPath(root, target.components)) != Existing::Other)
                return refuse(tr("the hard link's target is not a file of the archive"));
            archive_entry_set_hardlink(entry, joinedPath(root, target.components).constData());
        } else if (type == AE_IFLNK) {
            const char *target = archive_entry_symlink(entry);
            if (!target || !symlinkStaysInside(entryPath.components, QByteArray(target)))
                return refuse(tr("the symbolic link points outside the destination"));
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            return refuse(tr("only files, folders and links are unpacked"));
        }

        const QString parentError = checkParents(root, entryPath.components, realFolders);
        if (!parentError.isEmpty())
            return refuse(parentError);
        const QByteArray destPath = joinedPath(root, entryPath.components);
        // libarchive changes the process's working folder for names longer than that, which
        // would pull the ground from under every other thread.
        if (destPath.size() >= maxPathLength)
            return refuse(tr("the path is too long"));
        const Existing existing = realFolders.contains(destPath) ? Existing::Directory
                                                                 : lstatKind(destPath);
        if (existing == Existing::Symlink)
            return refuse(tr("the path leads through a symbolic link"));
        if (existing == Existing::Directory && (hardlink || type != AE_IFDIR))
            return refuse(tr("a folder of that name exists"));

        const la_int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
        if (size > 0 && size > m_request.maxTotalBytes - totalBytes)
            return fail(tr("The archive unpacks to more than %1 bytes.").arg(m_request.maxTotalBytes));

        // The owner may always read and write what was unpacked; nobody else may write it, and
        // set-id and sticky bits are dropped. The umask applies on top.
        if (!hardlink && type == AE_IFDIR)
            archive_entry_set_perm(entry, (archive_entry_perm(entry) & 0755) | 0700);
        else if (!hardlink && type == AE_IFREG)
            archive_entry_set_perm(entry, (archive_entry_perm(entry) & 0755) | 0600);
        archive_entry_set_pathname(entry, destPath.constData());

        m_output(name + QLatin1Char('\n'));

        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            return refuse(QString::fromLocal8Bit(archive_error_string(writer.get())));
        // Its parents are real folders now, checked above or made by the writer; so is the entry
        // itself when it is one.
        for (qsizetype i = entryPath.components.size() - 1; i >= 1; --i) {
            const QByteArray folder = joinedPath(root, entryPath.components, i);
            if (realFolders.contains(folder))
                break;
            realFolders.insert(folder);
        }
        if (!hardlink && type == AE_IFDIR)
            realFolders.insert(destPath);

        const void *buffer = nullptr;
        size_t bufferSize = 0;
        la_int64_t offset = 0;
        for (;;) {
            if (m_canceled)
                return false;
            const int dr = archive_read_data_block(reader.get(), &buffer, &bufferSize, &offset);
            if (dr == ARCHIVE_EOF)
                break;
            if (dr < ARCHIVE_WARN)
                return fail(tr("Cannot read the archive: %1").arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));
            totalBytes += qint64(bufferSize);
            if (totalBytes > m_request.maxTotalBytes)
                return fail(tr("The archive unpacks to more than %1 bytes.").arg(m_request.maxTotalBytes));
            if (archive_write_data_block(writer.get(), buffer, bufferSize, offset) < ARCHIVE_WARN)
                return refuse(QString::fromLocal8Bit(archive_error_string(writer.get())));
        }
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            return refuse(QString::fromLocal8Bit(archive_error_string(writer.get())));
    }
    if (archive_write_close(writer.get()) < ARCHIVE_WARN)
        return fail(QString::fromLocal8Bit(archive_error_string(writer.get())));
    return true;
}

bool ArchiveExtractor::extractGZipFile()
{
    QString targetName = m_request.gzipFileDestName;
    if (targetName.isEmpty()) {
        targetName = QFileInfo(m_request.sourceFile).fileName();
        if (targetName.endsWith(QLatin1String(".gz")))
            targetName.chop(3);
    }
    const EntryPath target = splitEntryPath(QFile::encodeName(targetName));
    if (!target.error.isEmpty() || target.components.size() != 1)
        return fail(tr("Refusing \"%1\": not a plain file name.").arg(targetName));

    ReadArchive reader = openArchive(m_request.sourceFile, ArchiveKind::GZipFile);
    archive_entry *entry = nullptr;
    if (!reader || archive_read_next_header(reader.get(), &entry) < ARCHIVE_WARN)
        return fail(tr("Cannot open the archive \"%1\".").arg(QDir::toNativeSeparators(m_request.sourceFile)));

    const QString targetPath = QDir(m_request.destDir).filePath(targetName);
    if (QFileInfo(targetPath).isSymLink())
        return fail(tr("Refusing \"%1\": the path leads through a symbolic link.").arg(targetName));
    QFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(tr("Cannot write \"%1\": %2").arg(QDir::toNativeSeparators(targetPath), file.errorString()));
    m_output(targetName + QLatin1Char('\n'));

    qint64 totalBytes = 0;
    QByteArray buffer(int(readBlockSize), Qt::Uninitialized);
    for (;;) {
        if (m_canceled)
            return false;
        const la_ssize_t n = archive_read_data(reader.get(), buffer.data(), size_t(buffer.size()));
        if (n == 0)
            break;
        if (n < 0)
            return fail(tr("Cannot read the archive: %1").arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));
        totalBytes += n;
        if (totalBytes > m_request.maxTotalBytes)
            return fail(tr("The archive unpacks to more than %1 bytes.").arg(m_request.maxTotalBytes));
        if (file.write(buffer.constData(), n) != n)
            return fail(tr("Cannot write \"%1\": %2").arg(QDir::toNativeSeparators(targetPath), file.errorString()));
    }
    return true;
}

} // namespace Utils::Internal
