#pragma once

#include "gitlabserver.h"

namespace LocalGitLab {

struct FolderGroup
{
    qint64 id = 0;
    QString path;
    QString name;
    QString description;
    QList<ProjectData> projects;
};

// Reads a catalogue folder (the format is described in README.md). Returns false and explains
// why in errorMessage when the folder or one of its metadata files cannot be read.
bool readCatalogueFolder(const QString &rootDir, QList<FolderGroup> *groups, QString *errorMessage);

// A positive 31-bit id derived from a key, so that a folder keeps its ids from run to run.
qint64 stableId(const QString &key);

} // namespace LocalGitLab
