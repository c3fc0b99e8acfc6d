#include "serial/device_access_posix.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace kestrel::serial {
namespace {

bool Holds(const std::vector<gid_t>& groups, gid_t group) {
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

std::vector<gid_t> ProcessGroups() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    groups.push_back(getegid());
    return groups;
}

std::vector<gid_t> ListedGroups(const char* user, gid_t primary) {
    int count = 32;
    std::vector<gid_t> groups;
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second with the count it asked for
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user, primary, groups.data(), &count) >= 0) {
            groups.resize(static_cast<std::size_t>(count));
            return groups;
        }
    }
    return {primary};
}

}  // namespace

Account CurrentAccount() {
    Account account{"$USER", ProcessGroups(), {}};
    const passwd* user = getpwuid(geteuid());
    if (user != nullptr && user->pw_name != nullptr) {
        account.name = user->pw_name;
        account.groups_listed = ListedGroups(user->pw_name, user->pw_gid);
    }
    return account;
}

std::string PermissionAdvice(const struct stat& device, const std::string& group_name,
                             const Account& account) {
    const bool group_may_open = (device.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!S_ISCHR(device.st_mode) || !group_may_open || device.st_gid == 0 || group_name.empty() ||
        Holds(account.groups_now, device.st_gid)) {
        return "";
    }
    if (Holds(account.groups_listed, device.st_gid)) {
        return "the group " + group_name + " may open it, and " + account.name +
               " was added to it after this login: log in again";
    }
    return "the group " + group_name + " may open it: add yourself to the group " + group_name +
           ": sudo usermod -aG " + group_name + " " + account.name + ", then log in again";
}

std::string PermissionAdviceFor(const std::string& path) {
    struct stat device {};
    if (stat(path.c_str(), &device) != 0) {
        return "";
    }
    const group* owner = getgrgid(device.st_gid);
    const std::string group_name =
        owner != nullptr && owner->gr_name != nullptr ? owner->gr_name : "";
    return PermissionAdvice(device, group_name, CurrentAccount());
}

}  // namespace kestrel::serial
