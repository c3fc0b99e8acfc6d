#include "serve/serve_tape.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/command_loop.h"
#include "app/tape_image.h"
#include "app/tape_file.h"

namespace kestrel::serve {

TapeFile ReadTapeFile(const std::string& path) {
    TapeFile file;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        file.status = TapeFile::Status::kUnreadable;
        file.message = path + " is a directory, not a tape file";
        return file;
    }
    errno = 0;                                     // the failing call, if any, says why
    app::TapeLoad load = app::LoadTapeFile(path);  // TAP as it is, TZX converted
    if (!load.readable) {
        // The Windows tool serves an unreadable file as an empty tape; a command-line
        // tool says so instead.
        file.status = TapeFile::Status::kUnreadable;
        file.message = "cannot read the tape " + path +
                       (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        return file;
    }
    if (load.refusal) {
        file.status = TapeFile::Status::kRefused;
        file.message = path + ": " + app::DescribeRefusal(*load.refusal);
        return file;
    }
    file.image = std::move(load.image);
    return file;
}

std::string TapeListing(std::string image) {
    app::TapeImage tape(std::move(image));
    std::string listing = "   #  type  name        length  param1  param2\n";
    char line[96];
    for (int number = 1; !tape.IsExhausted(); ++number) {
        const app::TapeEntry entry = tape.Front();
        std::snprintf(line, sizeof line, "%4d  %4u  %-10s  %6u  %6u  %6u\n", number,
                      static_cast<unsigned>(entry.type), app::LogName(entry.name).c_str(),
                      static_cast<unsigned>(entry.length), static_cast<unsigned>(entry.param1),
                      static_cast<unsigned>(entry.param2));
        listing += line;
        tape.DropFront();
    }
    return listing;
}

}  // namespace kestrel::serve
