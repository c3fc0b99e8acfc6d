// CGETFILE over the platform's common file dialog (comdlg32, ANSI forms).
#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "ui/file_dialog.h"

namespace kestrel::ui {

namespace {

static_assert(kOfnHideReadOnly == OFN_HIDEREADONLY && kOfnNoChangeDir == OFN_NOCHANGEDIR &&
              kOfnAllowMultiSelect == OFN_ALLOWMULTISELECT &&
              kOfnPathMustExist == OFN_PATHMUSTEXIST && kOfnLongNames == OFN_LONGNAMES);

// The structure's older layout, which ends with lpTemplateName (no pvReserved,
// dwReserved, FlagsEx). Its size depends on the pointer size: 76 bytes in a 32-bit
// program, 136 in a 64-bit one. A 64-bit GetOpenFileNameA rejects 76, and every
// choice would then read as a cancel.
constexpr DWORD kOpenFileNameSize =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
static_assert(sizeof(void*) != 4 || kOpenFileNameSize == 76);
static_assert(sizeof(void*) != 8 || kOpenFileNameSize == 136);

// The filter index of the last completed choice, kept for the whole process.
std::atomic<std::uint32_t> last_filter_index{0};

}  // namespace

std::string CGETFILE(const CGetFileOptions& options) {
    std::optional<FileDialogPlan> plan = PlanFileDialog(options);
    if (!plan) {
        return {};
    }
    std::string filter_area = plan->filter_area;
    std::vector<char> field(plan->file_name_field_size, '\0');
    plan->file_name.copy(field.data(), field.size() - 1);

    OPENFILENAMEA dialog{};
    dialog.lStructSize = kOpenFileNameSize;
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filter_area.data();
    dialog.nFilterIndex = plan->filter_index;
    dialog.lpstrFile = field.data();
    dialog.nMaxFile = static_cast<DWORD>(field.size());
    dialog.lpstrInitialDir =
        plan->initial_directory.empty() ? nullptr : plan->initial_directory.c_str();
    dialog.lpstrTitle = plan->title.c_str();
    dialog.Flags = plan->flags;

    BOOL chosen = plan->save_mode ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    if (!chosen) {
        return {};
    }
    last_filter_index.store(dialog.nFilterIndex);
    return ChosenPath(*plan, std::string_view(field.data(), field.size()));
}

std::uint32_t CGetFileLastFilterIndex() {
    return last_filter_index.load();
}

}  // namespace kestrel::ui
