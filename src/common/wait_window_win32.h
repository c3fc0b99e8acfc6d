#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/wait_window.h"
#include "ui/dialog_win32.h"
#include "ui/gdi_object_win32.h"
#include "ui/progress_win32.h"

namespace kestrel::common {

// The please-wait window ("TMsgBox"): a modeless dialog that tells the user to
// wait, with an optional progress bar, or, in its printing variant, the page being
// printed. While it shows, the window that was active before is disabled, and
// neither Esc nor Alt+F4 closes it; End enables that window again and closes the
// box.
class TMsgBox final : public WaitBox {
  public:
    // Builds and shows the box. `text` is the prepared message; `title` defaults to
    // "Attendere". A progress range makes a progress bar.
    static std::unique_ptr<TMsgBox> New(const std::string& text,
                                        std::optional<std::string_view> title,
                                        std::optional<int> minimum, std::optional<int> maximum,
                                        bool print);
    ~TMsgBox() override;

    void End() override;
    void SetMsg(const std::string& text) override;
    void SetPos(int position) override;
    void SetPag(int page) override;

    ui::TDialog* oDlg() const { return dialog_.get(); }
    ui::TProgress* oPrg() const { return progress_; }
    HWND hWnd() const { return behind_; }  // the window that was active at the opening

  private:
    TMsgBox() = default;
    void OpenText(const std::string& text, std::string_view title, std::optional<int> minimum,
                  std::optional<int> maximum);
    void OpenPrinting();
    void Shown();
    void SetSecondControlText(const std::string& text);

    // Destroyed in the reverse order: the window first, then its controls, then
    // the font they were drawn in.
    ui::Font font_;
    std::vector<std::unique_ptr<ui::TControl>> controls_;
    std::unique_ptr<ui::TDialog> dialog_;
    ui::TProgress* progress_ = nullptr;
    HWND behind_ = nullptr;
    bool open_ = false;
};

}  // namespace kestrel::common
