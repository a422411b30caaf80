#pragma once

#include "examplecatalog.h"

#include <QDateTime>

namespace Shell {

// The plain-text listing of a headless run: one row per example that the Welcome screen shows,
// over every registered set.
class ExampleReport
{
public:
    struct Row
    {
        QString set;
        QString name;
        QString projectFile;   // relative to the set's examples folder when it lies below it
        QString image;         // likewise
        QString tags;
        bool updated = false;  // manifest written since the run started
    };

    // Rows for the visible examples of every set; hiddenCount receives the number of examples
    // that the Welcome screen hides.
    static QList<Row> collect(const QList<ExampleSet> &sets, const QDateTime &runStart,
                              int *hiddenCount = nullptr, QStringList *errors = nullptr);

    // Columns separated by at least two blanks, a header line first.
    static QString table(const QList<Row> &rows);
};

} // namespace Shell
