#pragma once

#include <string>
#include <string_view>

namespace kestrel::ui {

// The current drive and directory, split the way the program builds the file
// dialog's starting folder from them. The string rules are platform-neutral (below);
// CURDRIVE and CURDIR read the process's current directory (current_dir_win32.cpp).

// The drive of a current-directory string: its first character in upper case when
// the second is ":" ("c:\work" gives "C"), otherwise its first character alone, which
// for a network directory (\\server\share\dir) is a single backslash. "" for "".
std::string DriveOfDirectory(std::string_view current_directory);

// The directory of a current-directory string without its drive ("X:"), and without
// one leading and one trailing separator ("\", "/" or ":"). So C:\ gives "",
// C:\WORK\TAPES gives WORK\TAPES, and \\server\share\dir gives \server\share\dir
// (only the first of the two leading backslashes goes).
std::string DirectoryWithoutDrive(std::string_view current_directory);

// The file dialog's starting folder rebuilt from CURDRIVE and CURDIR: no drive
// prefix for a network directory (drive "\"), else the drive letter and ":"; then
// "\" and the directory. C:\work\tapes, C:\ and \\server\share\dir come back whole.
// An unknown current directory (drive "") gives "", so the dialog picks its own.
std::string InitialDirectory(std::string_view drive, std::string_view directory);

// The whole current directory ("C:\WORK\TAPES"), however long; "" when the platform
// cannot tell.
std::string CurrentDirectory();

// The current drive letter, or "\" when the current directory is a network path.
std::string CURDRIVE();

// The current directory of the current drive, split as DirectoryWithoutDrive says.
std::string CURDIR();

// The current directory of another drive (a letter, either case), split likewise; ""
// for its root and for a drive that does not exist. The process's current
// directory is not changed, not even for a moment.
std::string CURDIR(char drive);

}  // namespace kestrel::ui
