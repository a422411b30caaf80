#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace Shell {

// One example set of "Help/InstalledExamples": a display name, the folder whose immediate
// sub-folders hold the manifests, and the folder relative paths fall back to.
struct ExampleSet
{
    QString displayName;
    QString manifestPath;
    QString examplesPath;

    bool operator==(const ExampleSet &other) const = default;
};

// One <example> or <demo> of a manifest, with its paths resolved.
struct ExampleItem
{
    QString name;
    QString description;
    QString projectPath;       // resolved, absolute when it could be resolved
    QString imageUrl;          // as written in the manifest
    QString docUrl;
    QStringList tags;
    QStringList platforms;
    QStringList filesToOpen;   // resolved; the main file comes last
    QString manifestFile;
    bool isHighlighted = false;
    bool isDemo = false;
    QString brokenReason;      // empty for a usable example

    bool isVisible() const { return brokenReason.isEmpty(); }
};

// Reads the example sets and their manifests the way the IDE's Welcome screen does: entries of
// "displayName|manifestPath|examplesPath" whose manifest folder exists, manifests only one folder
// below it, and examples without an existing project or without an image hidden.
class ExampleCatalog
{
public:
    static QList<ExampleSet> parseSets(const QStringList &entries);

    // Every example of every manifest of the set, hidden ones included (see brokenReason), sorted
    // highlighted first and then by name. Manifests that do not parse are reported in errors.
    static QList<ExampleItem> scan(const ExampleSet &set, QStringList *errors = nullptr);

    static QList<ExampleItem> parseManifest(const QString &manifestFile, const QString &examplesPath,
                                            QString *error = nullptr);

    // Resolves a project or file path of a manifest: relative to the manifest's folder when that
    // exists, else relative to the set's examples folder. A path with a leading separator that
    // lies below the manifest's folder counts as relative to it, which is how generated manifests
    // write the file to open.
    static QString resolvePath(const QString &path, const QString &manifestDir,
                               const QString &examplesPath);

    static QString brokenReason(const ExampleItem &item);
};

} // namespace Shell

Q_DECLARE_METATYPE(Shell::ExampleItem)
