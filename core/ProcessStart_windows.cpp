#include "core/ProcessStart.h"

namespace dvk {

// Windows has no file-size signal, and a handle opened later never takes the
// place of a missing standard handle.
std::error_code PrepareProcess()
{
    return {};
}

}  // namespace dvk
