#pragma once

class QListWidget;
class QString;

namespace Tidepool::Internal {

// Hides every item of the list whose text does not contain text, ignoring letter case, and shows
// all others; an empty text shows every item. Only the items present now are touched: items added
// later start visible whatever the filter holds.
void filterListWidget(QListWidget *list, const QString &text);

} // namespace Tidepool::Internal
