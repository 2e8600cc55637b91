#include "core/ProcessStart.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace dvk {

std::error_code PrepareProcess()
{
    std::signal(SIGXFSZ, SIG_IGN);
    for (int standard = 0; standard <= 2; ++standard) {
        if (::fcntl(standard, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number, which is this one.
        const int opened = ::open("/dev/null", standard == 0 ? O_RDONLY : O_WRONLY);
        if (opened < 0)
            return std::error_code(errno, std::system_category());
        if (opened != standard) {
            ::dup2(opened, standard);
            ::close(opened);
        }
    }
    return {};
}

}  // namespace dvk
