// Tests that mount file systems or give files to other users need root. A
// developer who is not root runs them as root of a user and mount namespace
// of their own, entered before any thread starts; where even that is
// refused, the tests that need it fail with kRootNote as the reason. Root
// gets a mount namespace of its own, so that nothing a test mounts is seen
// outside.
#pragma once

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace rootns {

inline std::string EnterRootNamespace()
{
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) == 0)
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        return "running as root";
    }
    const std::string uidMap = "0 " + std::to_string(::geteuid()) + " 1";
    const std::string gidMap = "0 " + std::to_string(::getegid()) + " 1";
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return std::string("not root, and no user namespace: ") + std::strerror(errno);
    const auto write = [](const char* file, const std::string& text) {
        std::ofstream out(file);
        return static_cast<bool>((out << text).flush());
    };
    if (!write("/proc/self/setgroups", "deny") || !write("/proc/self/uid_map", uidMap) ||
        !write("/proc/self/gid_map", gidMap))
        return "not root, and the user namespace's ids cannot be mapped";
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("not root, and the mount namespace cannot be made private: ") + std::strerror(errno);
    return "root of a user namespace that maps only this user, so no file can be given to another user";
}

inline const std::string kRootNote = EnterRootNamespace();

}  // namespace rootns
