#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shop/ShopPlatform.h"

namespace velmora::shop {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::string PrivateFileProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return "The connection file " + path + " cannot be read: " + std::strerror(errno) + ".";
    }
    if (!S_ISREG(info.st_mode)) {
        return "The connection file " + path + " is not a plain file.";
    }
    // Other users may neither read the password nor change where jobs go.
    if ((info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return "The connection file " + path + " can be read or changed by other users (mode " +
               mode + "), and it may hold a password. Make it yours alone (chmod 600 " + path +
               "), then run the command again.";
    }
    return {};
}

std::tm LocalCivilTime(std::time_t when) {
    std::tm civil{};
    ::localtime_r(&when, &civil);
    return civil;
}

}  // namespace velmora::shop
