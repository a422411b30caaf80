#pragma once

// Helpers shared by the benchmark programs: a private data home, timing statistics, process
// memory, command lines and the figures table.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <optional>
#include <unistd.h>

namespace Bench {

// The plugin fixes its data location when its library is loaded, before main() runs. So a
// benchmark that installs or scans examples re-executes itself once with XDG_DATA_HOME (and the
// temporary folder) pointing into a fresh scratch folder, and never touches the user's own data.
// Returns the scratch folder in the re-executed process; the first process never returns.
inline QString enterScratchHome(int argc, char **argv)
{
    const char *home = std::getenv("TIDEPOOL_BENCH_HOME");
    if (home && *home)
        return QString::fromLocal8Bit(home);

    const char *base = std::getenv("TMPDIR");
    QByteArray pattern = QByteArray(base && *base ? base : "/tmp") + "/tidepool-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    const QByteArray data = pattern + "/data";
    const QByteArray temp = pattern + "/tmp";
    QDir().mkpath(QString::fromLocal8Bit(data));
    QDir().mkpath(QString::fromLocal8Bit(temp));
    const QByteArray runtime = temp + "/runtime";
    QDir().mkpath(QString::fromLocal8Bit(runtime));
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
    setenv("TIDEPOOL_BENCH_HOME", pattern.constData(), 1);
    setenv("TIDEPOOL_BENCH_OWNS_HOME", "1", 1);
    setenv("XDG_DATA_HOME", data.constData(), 1);
    setenv("TMPDIR", temp.constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    execv("/proc/self/exe", argv);
    Q_UNUSED(argc)
    std::perror("execv");
    std::exit(2);
}

// Removes the scratch folder when this run created it.
inline void leaveScratchHome(const QString &home)
{
    if (qEnvironmentVariable("TIDEPOOL_BENCH_OWNS_HOME") == QLatin1String("1"))
        QDir(home).removeRecursively();
}

inline double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle)
                             : (values.at(middle - 1) + values.at(middle)) / 2;
}

// Nearest-rank percentile, p in [0, 100].
inline double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype rank = qsizetype(std::ceil(p / 100.0 * double(values.size())));
    return values.at(std::clamp<qsizetype>(rank - 1, 0, values.size() - 1));
}

// Bytes the allocator hands out right now, and bytes it holds from the system: what is resident
// beyond the second is code, stacks and mappings; between the two is free memory kept for reuse.
inline std::pair<double, double> heapKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return {double(info.uordblks + info.hblkhd) / 1024.0,
            double(info.arena + info.hblkhd) / 1024.0};
}

// Resident memory of this process in kibibytes, from /proc/self/status: "VmRSS" in all,
// "RssAnon" for allocated memory, "RssFile" for mapped files (mostly code of loaded libraries).
inline qint64 residentKiB(const QByteArray &field = "VmRSS")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// "2M", "50k", "1500" -> bytes; -1 when unparsable.
inline qint64 parseSize(const QString &text)
{
    QString digits = text.trimmed().toLower();
    qint64 factor = 1;
    if (digits.endsWith(u'k'))
        factor = 1024;
    else if (digits.endsWith(u'm'))
        factor = 1024 * 1024;
    if (factor != 1)
        digits.chop(1);
    bool ok = false;
    const double value = digits.toDouble(&ok);
    return ok && value > 0 ? qint64(value * double(factor)) : -1;
}

// Writes a file, creating its folder.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Starts the local GitLab server on the catalogue folder; its base URL, or an empty string when
// it did not start.
inline QString startServer(QProcess &server, const QString &program, const QString &catalogue)
{
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(program, {"--root", catalogue, "--port", "0"});
    if (!server.waitForReadyRead(30000)) {
        std::fprintf(stderr, "gitlab-server did not start: %s\n", qPrintable(program));
        return {};
    }
    return QString::fromUtf8(server.readLine()).trimmed();
}

inline void stopServer(QProcess &server)
{
    if (server.state() == QProcess::NotRunning)
        return;
    server.terminate();
    if (!server.waitForFinished(10000))
        server.kill();
    server.waitForFinished(5000);
}

// Runs a program to its end; its standard output, or nothing when it failed.
inline std::optional<QByteArray> run(const QString &program, const QStringList &arguments,
                                     int timeoutMs = 600000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        std::fprintf(stderr, "failed: %s %s\n", qPrintable(program),
                     qPrintable(arguments.join(u' ')));
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

// One line of the figures table.
struct Figure
{
    QString id;
    QString measure;
    QString value;    // what was measured, with its unit
    QString baseline; // what it was compared with, or "-"
    double ratio = 0; // value / baseline (or / target when there is no baseline)
    double limit = 0; // the ratio allowed
    QString target;
};

inline void printFigures(const QList<Figure> &figures)
{
    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg(QStringLiteral("id"), -4)
               .arg(QStringLiteral("measure"), -40)
               .arg(QStringLiteral("measured"), -14)
               .arg(QStringLiteral("baseline"), -14)
               .arg(QStringLiteral("ratio"), 6)
               .arg(QStringLiteral("target"), -18)
               .arg(QStringLiteral("result"));
    for (const Figure &figure : figures) {
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                   .arg(figure.id, -4)
                   .arg(figure.measure, -40)
                   .arg(figure.value, -14)
                   .arg(figure.baseline, -14)
                   .arg(figure.ratio, 6, 'f', 2)
                   .arg(figure.target, -18)
                   .arg(figure.ratio <= figure.limit ? QStringLiteral("met")
                                                     : QStringLiteral("MISSED"));
    }
    out.flush();
}

inline QString seconds(double s)
{
    return QStringLiteral("%1 s").arg(s, 0, 'f', 3);
}

inline QString milliseconds(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', 2);
}

inline QString mebibytes(double kib)
{
    return QStringLiteral("%1 MiB").arg(kib / 1024.0, 0, 'f', 1);
}

} // namespace Bench
