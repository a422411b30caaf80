#pragma once

#include "core_global.h"

#include <QString>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace Core {
namespace AsynchronousMessageBox {

// Each shows a modal message box with an Ok button, parented to ICore::dialogParent(), without
// waiting for it to close. The box deletes itself when closed.
CORE_EXPORT QWidget *warning(const QString &title, const QString &desciption);
CORE_EXPORT QWidget *information(const QString &title, const QString &desciption);
CORE_EXPORT QWidget *critical(const QString &title, const QString &desciption);

} // namespace AsynchronousMessageBox
} // namespace Core
