#include "ui/file_dialog.h"

#include <algorithm>

namespace kestrel::ui {

namespace {

constexpr std::size_t kShortTextLimit = 255;
constexpr std::size_t kFilterTextLimit = kFilterAreaSize - 2;

std::string Cut(std::string_view text, std::size_t limit) {
    return std::string(text.substr(0, limit));
}

bool SaveMode(const CGetFileOptions& options) {
    return options.save_mode.value_or(options.initial_file.has_value());
}

std::uint32_t Flags(const CGetFileOptions& options, bool save_mode) {
    if (!options.flags) {
        return kDefaultFileDialogFlags;
    }
    if (*options.flags != 0) {
        return *options.flags;
    }
    std::uint32_t flags = kOfnPathMustExist | kOfnNoChangeDir;
    if (save_mode) {
        flags |= kOfnHideReadOnly;
    }
    if (options.long_names.value_or(false)) {
        flags |= kOfnLongNames;
    }
    return flags;
}

std::string FilterArea(std::string_view filter) {
    std::string area(kFilterAreaSize, '\0');
    std::replace_copy(filter.begin(), filter.end(), area.begin(), '|', '\0');
    return area;
}

std::string StartFileName(const CGetFileOptions& options, std::string_view filter,
                          std::size_t field_size) {
    if (options.initial_file) {
        return Cut(*options.initial_file, field_size - 1);
    }
    if (!options.filter_text_as_file_name && filter.find('|') != std::string_view::npos) {
        return {};
    }
    return Cut(filter, kShortTextLimit);
}

}  // namespace

bool CGetFileOptions::IsEmpty() const {
    return !filter && !title && !filter_index && !initial_directory && !save_mode && !long_names &&
           !flags && !initial_file && !filter_text_as_file_name;
}

std::optional<FileDialogPlan> PlanFileDialog(const CGetFileOptions& options) {
    if (options.IsEmpty()) {
        return std::nullopt;
    }
    FileDialogPlan plan;
    plan.save_mode = SaveMode(options);
    plan.flags = Flags(options, plan.save_mode);
    int index = options.filter_index.value_or(0);
    plan.filter_index = index != 0 ? static_cast<std::uint32_t>(index) & 0xFFu : 1u;
    plan.title =
        options.title ? Cut(*options.title, kShortTextLimit) : std::string(kDefaultFileDialogTitle);
    plan.initial_directory = Cut(options.initial_directory.value_or(""), kShortTextLimit);

    std::string filter = Cut(options.filter.value_or(""), kFilterTextLimit);
    plan.filter_area = FilterArea(filter);
    bool multi = (plan.flags & kOfnAllowMultiSelect) != 0;
    plan.file_name_field_size = multi ? kMultiSelectFieldSize : kFileNameFieldSize;
    plan.file_name = StartFileName(options, filter, plan.file_name_field_size);
    plan.whole_field_result = multi && !plan.save_mode;
    return plan;
}

std::string ChosenPath(const FileDialogPlan& plan, std::string_view field) {
    if (plan.whole_field_result) {
        return std::string(field);
    }
    return std::string(field.substr(0, field.find('\0')));
}

}  // namespace kestrel::ui
