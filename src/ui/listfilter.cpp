#include "listfilter.h"

#include <QListWidget>
#include <QString>

namespace Tidepool::Internal {

void filterListWidget(QListWidget *list, const QString &text)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        item->setHidden(!item->text().contains(text, Qt::CaseInsensitive));
    }
}

} // namespace Tidepool::Internal
