// CURDRIVE and CURDIR over the process's current directory.
#include <windows.h>

#include <string>

#include "ui/current_dir.h"

namespace kestrel::ui {

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

namespace {

// The directory the platform keeps as current for one drive ("X:" resolved).
std::string CurrentDirectoryOfDrive(char drive) {
    const char relative[] = {drive, ':', '\0'};
    std::string directory(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = GetFullPathNameA(relative, static_cast<DWORD>(directory.size()),
                                        directory.data(), nullptr);
        if (length == 0) {
            return {};
        }
        if (length < directory.size()) {
            directory.resize(length);
            return directory;
        }
        directory.assign(length, '\0');
    }
    return {};
}

}  // namespace

std::string CURDRIVE() {
    return DriveOfDirectory(CurrentDirectory());
}

std::string CURDIR() {
    return DirectoryWithoutDrive(CurrentDirectory());
}

std::string CURDIR(char drive) {
    bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    return letter ? DirectoryWithoutDrive(CurrentDirectoryOfDrive(drive)) : std::string();
}

}  // namespace kestrel::ui
