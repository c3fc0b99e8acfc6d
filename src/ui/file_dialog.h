#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::ui {

// The platform's file-dialog flags that CGETFILE decides about (same values as
// the OFN_ constants of the platform's headers).
inline constexpr std::uint32_t kOfnHideReadOnly = 0x4;
inline constexpr std::uint32_t kOfnNoChangeDir = 0x8;
inline constexpr std::uint32_t kOfnAllowMultiSelect = 0x200;
inline constexpr std::uint32_t kOfnPathMustExist = 0x800;
inline constexpr std::uint32_t kOfnLongNames = 0x200000;

// The flags when none are given: the folder of a typed name must exist (the file
// need not), no read-only box, and the process's current directory stays put, so
// a relative settings file such as ".\KESTREL.INI" keeps meaning the start folder.
inline constexpr std::uint32_t kDefaultFileDialogFlags =
    kOfnPathMustExist | kOfnNoChangeDir | kOfnHideReadOnly;  // 80Ch

inline constexpr std::string_view kDefaultFileDialogTitle = "Select the file";

// The file-name field: one path, or a multiple selection.
inline constexpr std::size_t kFileNameFieldSize = 256;
inline constexpr std::size_t kMultiSelectFieldSize = 15384;
// The filter list area: at most 398 characters and the two zero bytes that end it.
inline constexpr std::size_t kFilterAreaSize = 400;

// What a CGETFILE call asks for. Every field is optional; an absent one takes the
// default written beside it.
struct CGetFileOptions {
    // Description/pattern pairs joined by "|", e.g. "File TAP (*.tap)|*.tap".
    // Absent: no filter. Without a "|" it is also the file-name field's start text.
    std::optional<std::string> filter{};
    std::optional<std::string> title{};  // absent: "Select the file"; 255 characters kept
    // Only its low byte counts; absent or 0: the first filter pair.
    std::optional<int> filter_index{};
    std::optional<std::string> initial_directory{};  // absent: the platform's choice
    // Absent: a save dialog exactly when initial_file is given, else an open dialog.
    std::optional<bool> save_mode{};
    // Only looked at when flags is 0: adds OFN_LONGNAMES.
    std::optional<bool> long_names{};
    // Absent: 80Ch. Exactly 0: computed from the mode (PATHMUSTEXIST + NOCHANGEDIR,
    // HIDEREADONLY when saving, LONGNAMES when long_names is true).
    std::optional<std::uint32_t> flags{};
    // The file-name field's start text. Absent: the filter text, or an empty field
    // when the filter holds a "|".
    std::optional<std::string> initial_file{};
    // With initial_file absent, keeps the filter text in the file-name field even
    // when it holds a "|" (what a caller naming the eighth slot without a file name
    // gets). Rarely wanted.
    bool filter_text_as_file_name = false;

    // No field given at all: CGETFILE shows nothing and answers "".
    bool IsEmpty() const;
};

// Everything the platform call is given, decided without the platform.
struct FileDialogPlan {
    bool save_mode = false;
    std::uint32_t flags = 0;
    std::uint32_t filter_index = 1;
    std::string title;
    std::string initial_directory;  // "" for none
    // kFilterAreaSize bytes: the pairs separated by zero bytes, zero-filled after.
    std::string filter_area;
    std::string file_name;  // the field's start text, shorter than the field
    std::size_t file_name_field_size = kFileNameFieldSize;
    // Open mode with multiple selection: the caller gets the whole field (folder,
    // names and their zero separators) instead of the text up to the first zero.
    bool whole_field_result = false;
};

// The plan for a call, or nothing when no option was given at all.
std::optional<FileDialogPlan> PlanFileDialog(const CGetFileOptions& options);

// The chosen path from the file-name field as the platform left it.
std::string ChosenPath(const FileDialogPlan& plan, std::string_view field);

// Runs the platform's modal open (or save) dialog on the calling thread, owned by
// the window active at the call. The full chosen path, or "" on cancel and on any
// failure of the platform (a path too long for the field included).
std::string CGETFILE(const CGetFileOptions& options);

// The filter index the user last chose in a completed CGETFILE; 0 before any.
std::uint32_t CGetFileLastFilterIndex();

}  // namespace kestrel::ui
