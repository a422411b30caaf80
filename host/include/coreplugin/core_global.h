#pragma once

#include <QtGlobal>

#if defined(QTCHOST_LIBRARY)
#  define CORE_EXPORT Q_DECL_EXPORT
#else
#  define CORE_EXPORT Q_DECL_IMPORT
#endif
