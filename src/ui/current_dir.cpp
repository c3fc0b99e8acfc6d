#include "ui/current_dir.h"

#include "base/ascii_case.h"

namespace kestrel::ui {

namespace {

constexpr bool IsSeparator(char c) {
    return c == '\\' || c == '/' || c == ':';
}

constexpr bool HasDrivePrefix(std::string_view path) {
    return path.size() >= 2 && path[1] == ':';
}

}  // namespace

std::string DriveOfDirectory(std::string_view current_directory) {
    if (current_directory.empty()) {
        return {};
    }
    if (HasDrivePrefix(current_directory)) {
        return std::string(1, base::UpperAscii(current_directory[0]));
    }
    return std::string(1, current_directory[0]);
}

std::string DirectoryWithoutDrive(std::string_view current_directory) {
    std::string_view rest = current_directory;
    if (HasDrivePrefix(rest)) {
        rest.remove_prefix(2);
    }
    if (!rest.empty() && IsSeparator(rest.front())) {
        rest.remove_prefix(1);
    }
    if (!rest.empty() && IsSeparator(rest.back())) {
        rest.remove_suffix(1);
    }
    return std::string(rest);
}

std::string InitialDirectory(std::string_view drive, std::string_view directory) {
    if (drive.empty()) {
        return {};
    }
    std::string folder = drive == "\\" ? std::string() : std::string(drive) + ":";
    folder += '\\';
    folder += directory;
    return folder;
}

}  // namespace kestrel::ui
