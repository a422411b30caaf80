#pragma once

#include "utils_global.h"

#include "commandline.h"
#include "expected.h"
#include "filepath.h"

#include <solutions/tasking/tasktree.h>

#include <QObject>

#include <memory>

namespace Utils {

namespace Internal { class UnarchiverJob; class UnarchiverRunnable; }

// Unpacks an archive into a folder. The work happens on a worker thread; start() returns at once
// and the signals arrive on the thread the Unarchiver lives in.
class QTCREATOR_UTILS_EXPORT Unarchiver : public QObject
{
    Q_OBJECT

public:
    class SourceAndCommand
    {
    private:
        friend class Unarchiver;
        SourceAndCommand(const FilePath &sourceFile, const CommandLine &commandTemplate);
        FilePath m_sourceFile;
        CommandLine m_commandTemplate;
    };

    // As in the IDE, only a default constructor: a parent is set afterwards.
    Unarchiver();
    ~Unarchiver() override;

    static expected_str<SourceAndCommand> sourceAndCommand(const FilePath &sourceFile);

    void setSourceAndCommand(const SourceAndCommand &data);
    void setDestDir(const FilePath &destDir);
    void setGZipFileDestName(const QString &gzipFileDestName);

    void start();

signals:
    void outputReceived(const QString &output);
    void done(Tasking::DoneResult result);

private:
    friend class Internal::UnarchiverRunnable;
    void finish(bool success);

    std::optional<SourceAndCommand> m_sourceAndCommand;
    FilePath m_destDir;
    QString m_gzipFileDestName;
    std::shared_ptr<Internal::UnarchiverJob> m_job;
};

} // namespace Utils
