// CURDRIVE and CURDIR over the process's current directory.
#include <windows.h>

#include <string>

#include "ui/current_dir.h"

namespace kestrel::ui {

namespace {

// The whole current directory, however long; "" when the platform cannot tell.
std::string CurrentDirectory() {
    std::string directory(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(directory.size()), directory.data());
        if (length == 0) {
            return {};
        }
        if (length < directory.size()) {
            directory.resize(length);
            return directory;
        }
        directory.assign(length, '\0');  // too small: length is the size it needs
    }
    return {};  // changed under us again and again
}

}  // namespace

std::string CURDRIVE() {
    return DriveOfDirectory(CurrentDirectory());
}

std::string CURDIR() {
    return DirectoryWithoutDrive(CurrentDirectory());
}

}  // namespace kestrel::ui
