#include "examplesdialog.h"
#include "ui_examplesdialog.h"

#include "listfilter.h"
#include "plugin/openlocationmenu.h"

#include <QJsonObject>
#include <QListWidgetItem>

namespace Tidepool::Internal {

ExamplesDialog::ExamplesDialog(const Repository::Examples &examples, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ExamplesDialog>())
{
    m_ui->setupUi(this);
    m_ui->filterLineEdit->setFiltering(true);

    setupOpenLocationMenu(m_ui->examplesListWidget, &ExamplesDialog::webLocation);
    connect(m_ui->filterLineEdit, &QLineEdit::textChanged, this, [this](const QString &text) {
        filterListWidget(m_ui->examplesListWidget, text);
    });

    for (const Repository::ExamplePtr &example : examples) {
        const QJsonObject &project = example->json();
        const QString webUrl = project.value("web_url").toString();
        auto item = new QListWidgetItem(project.value("path").toString());
        // One multi-argument fill, so that text from the server is never read for placeholders.
        item->setToolTip(
            tr("<table><tbody>"
               "<tr><td style=\"width: 40%;\">Name:&nbsp;</td><td style=\"width: 60%;\">%1</td></tr>"
               "<tr><td style=\"width: 40%;\">Description:&nbsp;</td><td style=\"width: 60%;\">%2</td></tr>"
               "<tr><td style=\"width: 40%;\">Updated:&nbsp;</td><td style=\"width: 60%;\">%3</td></tr>"
               "<tr><td style=\"width: 40%;\">Location:&nbsp;</td><td style=\"width: 60%;\">%4</td></tr>"
               "</tbody></table>")
                .arg(project.value("name").toString(),
                     project.value("description").toString(),
                     example->lastActivity().toLocalTime().toString(Qt::TextDate),
                     webUrl));
        item->setData(Qt::UserRole, webUrl);
        m_ui->examplesListWidget->addItem(item);
    }
}

ExamplesDialog::~ExamplesDialog() = default;

QUrl ExamplesDialog::webLocation(const QString &text)
{
    // The addresses come from the server: a file: URL or a custom scheme handed to the desktop
    // could start a local program, so only web pages are opened.
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme();
    if (scheme.compare("http", Qt::CaseInsensitive) == 0
        || scheme.compare("https", Qt::CaseInsensitive) == 0) {
        return url;
    }
    return {};
}

void ExamplesDialog::accept()
{
    m_selectedExamples.clear();
    const QList<QListWidgetItem *> items = m_ui->examplesListWidget->selectedItems();
    for (const QListWidgetItem *item : items) {
        // Items hidden by the filter stay selected; only what the user can see is chosen.
        if (!item->isHidden())
            m_selectedExamples.insert(item->text());
    }
    QDialog::accept();
}

} // namespace Tidepool::Internal
