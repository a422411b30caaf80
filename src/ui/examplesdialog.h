#pragma once

#include "repositories/repository.h"

#include <QDialog>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>

namespace Tidepool::Internal {

namespace Ui { class ExamplesDialog; }

// Lists the examples of one online repository and lets the user pick some to install. The caller
// runs exec() and reads selectedExamples() afterwards: it stays empty unless the user pressed OK.
class ExamplesDialog : public QDialog
{
    Q_OBJECT

public:
    ExamplesDialog(const Repository::Examples &examples, QWidget *parent);
    ~ExamplesDialog() override;

    QSet<QString> selectedExamples() const { return m_selectedExamples; }

    // The address that "Open location..." may hand to the desktop for an item's stored web
    // address: only http and https pages are opened, anything else gives an empty URL.
    static QUrl webLocation(const QString &text);

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui::ExamplesDialog> m_ui;
    QSet<QString> m_selectedExamples;
};

} // namespace Tidepool::Internal
