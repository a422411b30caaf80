#pragma once

#include <QUrl>

#include <functional>

class QListWidget;

namespace Tidepool::Internal {

// Gives the list an "Open location..." context menu that opens the location stored (as text, in
// Qt::UserRole) in each selected item; toUrl turns that text into the URL to open.
void setupOpenLocationMenu(QListWidget *list, const std::function<QUrl(const QString &)> &toUrl);

} // namespace Tidepool::Internal
