// Pacing of the polling loops (polling.h).

#include "commands/prediction/polling.h"

#include <algorithm>
#include <thread>

namespace qv_polling_internal {

poll_timing& timing()
{
    static poll_timing values;
    return values;
}

}  // namespace qv_polling_internal
