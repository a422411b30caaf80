#pragma once

#include "tasking_global.h"

#include <QObject>

namespace Tasking {

Q_NAMESPACE_EXPORT(TASKING_EXPORT)

// The result a task reports when it ends.
enum class DoneResult { Success, Error };
Q_ENUM_NS(DoneResult)

// What a done handler receives: a task may also have been canceled.
enum class DoneWith { Success, Error, Cancel };
Q_ENUM_NS(DoneWith)

TASKING_EXPORT DoneResult toDoneResult(bool success);

} // namespace Tasking
