#include <solutions/tasking/tasktree.h>

namespace Tasking {

DoneResult toDoneResult(bool success)
{
    return success ? DoneResult::Success : DoneResult::Error;
}

} // namespace Tasking
