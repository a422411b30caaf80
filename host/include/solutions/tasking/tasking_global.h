#pragma once

#include <QtGlobal>

#if defined(QTCHOST_LIBRARY)
#  define TASKING_EXPORT Q_DECL_EXPORT
#else
#  define TASKING_EXPORT Q_DECL_IMPORT
#endif
