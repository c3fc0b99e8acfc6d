#include "serial/device_access_posix.h"

#include <gtest/gtest.h>

namespace kestrel::serial {
namespace {

constexpr gid_t kDialout = 20;

struct stat Device(mode_t mode, gid_t group = kDialout) {
    struct stat device {};
    device.st_mode = mode;
    device.st_gid = group;
    return device;
}

const Account kAlice{"alice", {1000}, {1000}};

TEST(PermissionAdvice, NamesTheSerialDevicesGroupAndHowToJoinIt) {
    EXPECT_EQ(PermissionAdvice(Device(S_IFCHR | 0660), "dialout", kAlice),
              "the group dialout may open it: add yourself to the group dialout: "
              "sudo usermod -aG dialout alice, then log in again");
}

TEST(PermissionAdvice, OnlyAsksForANewLoginWhenTheUserWasAddedAlready) {
    const Account added{"alice", {1000}, {1000, kDialout}};
    EXPECT_EQ(PermissionAdvice(Device(S_IFCHR | 0660), "dialout", added),
              "the group dialout may open it, and alice was added to it after this login: "
              "log in again");
}

TEST(PermissionAdvice, SaysNothingWhenNoGroupToJoinWouldHelp) {
    const Account member{"alice", {1000, kDialout}, {1000, kDialout}};
    EXPECT_EQ(PermissionAdvice(Device(S_IFREG | 0660), "dialout", kAlice), "");  // not a device
    EXPECT_EQ(PermissionAdvice(Device(S_IFCHR | 0640), "dialout", kAlice), "");  // group reads only
    EXPECT_EQ(PermissionAdvice(Device(S_IFCHR | 0660, 0), "root", kAlice), "");  // root's group
    EXPECT_EQ(PermissionAdvice(Device(S_IFCHR | 0660), "", kAlice), "");         // group unnamed
    EXPECT_EQ(PermissionAdvice(Device(S_IFCHR | 0660), "dialout", member), "");  // in it already
}

}  // namespace
}  // namespace kestrel::serial
