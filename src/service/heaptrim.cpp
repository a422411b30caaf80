#include "heaptrim.h"

#include "plugin/logging.h"

#include <QElapsedTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Tidepool::Internal {

void trimHeap()
{
#if defined(__GLIBC__)
    QElapsedTimer timer;
    timer.start();
    malloc_trim(0);
    qCDebug(serviceLog) << "Heap trimmed in" << timer.nsecsElapsed() / 1000 << "us";
#endif
}

} // namespace Tidepool::Internal
