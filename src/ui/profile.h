#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::ui {

// The private profile (INI) files of the platform, e.g. ".\KESTREL.INI". A file name
// with a path part is taken relative to the current directory; a bare name would be
// looked up in the Windows directory. Implemented in profile_win32.cpp.

// The value of `key` in `section`, or `fallback` when the file, the section or the
// key is missing. Enclosing quotation marks are removed; a value longer than 4094
// characters is cut. An empty stored value reads as "" whatever the fallback.
// Without a key: the section's key names, each followed by a zero byte. Without a
// section: the file's section names, likewise.
std::string GETPVPROFSTRING(std::optional<std::string_view> section,
                            std::optional<std::string_view> key, std::string_view fallback,
                            const std::string& file);

// Stores `value` under `key` in `section`, creating the file and the section when
// needed. Without a value the key is deleted; without a key the whole section.
// True on success; false for example when the file is read-only.
bool WRITEPPROSTRING(std::string_view section, std::optional<std::string_view> key,
                     std::optional<std::string_view> value, const std::string& file);

}  // namespace kestrel::ui
