#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrel::serial {

// The user who runs the program, as far as the permission to open a device goes.
struct Account {
    std::string name;                  // login name; "$USER" when the user database has none
    std::vector<gid_t> groups_now;     // the groups this process runs with
    std::vector<gid_t> groups_listed;  // the user's groups in the group database, which a
                                       // new login takes up
};

// The account of this process, read from the process and the user and group databases.
Account CurrentAccount();

// What a user who may not open a device can do about it, to follow the system's reason;
// empty when there is nothing to say. Only a serial device (a character device) whose
// group, other than root's, may read and write it gets advice: to join that group
// (named group_name) with usermod and log in again, or only to log in again when the
// group database has the user in the group already and this login does not.
std::string PermissionAdvice(const struct stat& device, const std::string& group_name,
                             const Account& account);

// PermissionAdvice for the device at path, for this process's account ("" when the
// device cannot even be looked at).
std::string PermissionAdviceFor(const std::string& path);

}  // namespace kestrel::serial
