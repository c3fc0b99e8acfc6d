#include "common/startup_procedures_win32.h"

#include <windows.h>

namespace kestrel::common {

namespace {

// A directory search, closed by its one owner.
class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            FindClose(handle_);
        }
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

}  // namespace

std::vector<DirEntry> PlatformLibraryFiles::List(const std::string& directory) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAA found{};
    const std::string pattern = directory + "*.*";
    FindHandle search(FindFirstFileA(pattern.c_str(), &found));
    if (!search.valid()) {
        return entries;
    }
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const DWORD attributes = found.dwFileAttributes;
        entries.push_back({name, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0});
    } while (FindNextFileA(search.get(), &found));
    return entries;
}

bool PlatformLibraryFiles::RemoveFile(const std::string& path, bool even_read_only) {
    const DWORD attributes = even_read_only ? GetFileAttributesA(path.c_str()) : 0;
    const bool cleared = even_read_only && attributes != INVALID_FILE_ATTRIBUTES &&
                         SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path.c_str())) {
        return true;
    }
    if (cleared) {
        // The file stays (held open elsewhere, say): it keeps its attributes.
        SetFileAttributesA(path.c_str(), attributes);
    }
    return false;
}

bool PlatformLibraryFiles::RemoveDir(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool PlatformLibraryFiles::HeldOpen(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

bool PlatformLibraryFiles::Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> PlatformLibraryFiles::TempVariable() {
    const DWORD needed = GetEnvironmentVariableA("TEMP", nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::string value(needed, '\0');
    const DWORD length = GetEnvironmentVariableA("TEMP", value.data(), needed);
    value.resize(length < needed ? length : 0);
    return value;
}

std::string PlatformLibraryFiles::CurrentDriveRoot() {
    char directory[MAX_PATH + 1] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    if (length >= 2 && length < sizeof directory && directory[1] == ':') {
        return std::string(directory, 2) + "\\";
    }
    return "\\";
}

void PlatformLibraryFiles::FailCriticalErrors() {
    SetErrorMode(SEM_FAILCRITICALERRORS);
}

void PlatformLibraryFiles::CloseFile(std::intptr_t file) {
    CloseHandle(reinterpret_cast<HANDLE>(file));
}

ClockReading LocalClock() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const long seconds = (now.wHour * 60L + now.wMinute) * 60L + now.wSecond;
    return {now.wYear, now.wMonth, now.wDay, seconds * 100L + now.wMilliseconds / 10};
}

void LibraryStartup() {
    PlatformLibraryFiles files;
    INIT(files);
}

void LibraryShutdown() {
    PlatformLibraryFiles files;
    EXIT(files);
}

}  // namespace kestrel::common
