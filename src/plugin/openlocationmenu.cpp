#include "openlocationmenu.h"

#include "logging.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QListWidget>
#include <QMenu>

namespace Tidepool::Internal {

void setupOpenLocationMenu(QListWidget *list, const std::function<QUrl(const QString &)> &toUrl)
{
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [list, toUrl](const QPoint &pos) {
        if (!list->itemAt(pos))
            return;

        QMenu menu;
        menu.addAction(QCoreApplication::translate("Tidepool::Internal::Plugin", "Open location..."));
        if (!menu.exec(list->viewport()->mapToGlobal(pos)))
            return;

        const QList<QListWidgetItem *> selected = list->selectedItems();
        for (const QListWidgetItem *item : selected) {
            const QUrl url = toUrl(item->data(Qt::UserRole).toString());
            if (!QDesktopServices::openUrl(url))
                qCDebug(pluginLog) << "Unable to open location:" << item->text();
        }
    });
}

} // namespace Tidepool::Internal
