// The library's dialogs on the platform: modeless dialogs and their list, dialogs
// from the library's resources, and a confirmed close that finds an invalid field
// on a folder page. Message boxes that the code under test shows are answered by a
// watcher thread, which also notes what they said.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "common/dialog_valid_win32.h"
#include "common/library_state.h"
#include "common/popmsg.h"
#include "common/wait_window_win32.h"
#include "support/dialog_watcher_win32.h"
#include "support/probe_windows_win32.h"
#include "ui/button_win32.h"
#include "ui/dialog_win32.h"
#include "ui/folder_win32.h"
#include "ui/framework_state_win32.h"
#include "ui/get_win32.h"
#include "ui/message_pump.h"
#include "ui/static_controls_win32.h"

namespace kestrel {
namespace {

using ui::ActivateOptions;
using ui::DialogOptions;
using ui::Placement;
using ui::TDialog;

// Answers every message box of the test's thread with `button` and keeps the title
// and the texts of each, in order. `before_answer`, when given, runs while each box
// shows, inside its loop.
class BoxAnswerer {
  public:
    explicit BoxAnswerer(int button = IDOK, std::function<void()> before_answer = nullptr)
        : watcher_(
              [this, button, before_answer](HWND box) {
                  seen_.push_back(testing::TextOf(box));
                  const std::vector<std::string> texts = testing::StaticTexts(box);
                  seen_.insert(seen_.end(), texts.begin(), texts.end());
                  if (before_answer) {
                      before_answer();
                  }
                  PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
              },
              // The dialogs under test have captions of their own; the boxes carry the
              // library's and the framework's box titles.
              {"Attenzione", "Alert"}) {}

    // What was seen so far.
    const std::vector<std::string>& Seen() const { return seen_; }

  private:
    std::vector<std::string> seen_;
    testing::DialogWatcher watcher_;
};

DialogOptions Caption(const char* caption) {
    DialogOptions options;
    options.caption = caption;
    options.width = 300;
    options.height = 200;
    return options;
}

ActivateOptions Modeless() {
    ActivateOptions run;
    run.modal = false;
    return run;
}

// --- Modeless dialogs -------------------------------------------------------------

TEST(ModelessDialog, ShowsAndReturnsAtOnceLinkedAndListedUntilItsCloseIsAccepted) {
    std::string text = "x";
    TDialog dialog(Caption("Non modale"));
    ui::TGet field(Placement::Box(&dialog, 10, 10, 120, 22), ui::BindTo(text));
    bool allow = false;
    ActivateOptions run = Modeless();
    run.valid = [&allow](TDialog&) { return allow; };
    dialog.Activate(run);

    ASSERT_NE(dialog.hWnd, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog.hWnd));
    EXPECT_TRUE(dialog.lVisible);
    EXPECT_EQ(ui::LinkedWindow(dialog.hWnd), &dialog);
    EXPECT_EQ(ui::Framework().modeless.size(), 1u);
    char caption[64] = {};
    GetWindowTextA(dialog.hWnd, caption, sizeof caption);
    EXPECT_STREQ(caption, "Non modale");
    EXPECT_FALSE(dialog.IsEnded());

    dialog.End(7);  // posted: the refusal comes when it is handled
    EXPECT_TRUE(IsWindow(dialog.hWnd));
    EXPECT_FALSE(dialog.IsEnded());

    SendMessageA(dialog.hWnd, WM_COMMAND, IDCANCEL, 0);  // Esc through the dialog manager
    ui::SYSREFRESH();
    ASSERT_NE(dialog.hWnd, nullptr) << "IDCANCEL went past the validation callback";
    EXPECT_TRUE(IsWindowVisible(dialog.hWnd));

    allow = true;
    HWND window = dialog.hWnd;
    dialog.End(7);  // a modeless End always answers true: what it caused counts
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(dialog.hWnd, nullptr);
    EXPECT_EQ(dialog.nResult, 7);
    EXPECT_FALSE(dialog.lVisible);
    EXPECT_EQ(ui::Framework().modeless.size(), 0u);
}

TEST(ModelessDialog, ThePumpGivesItKeyboardNavigation) {
    std::string first = "uno";
    std::string second = "due";
    TDialog dialog(Caption("Navigazione"));
    ui::TGet one(Placement::Box(&dialog, 5, 5, 80, 12), ui::BindTo(first));
    ui::TGet two(Placement::Box(&dialog, 25, 5, 80, 12), ui::BindTo(second));
    dialog.Activate(Modeless());
    ui::SYSREFRESH();  // the dialog's own opening Tab
    SetFocus(one.hWnd);
    // Only the dialog manager turns Enter into the dialog's IDOK, which moves on.
    PostMessageA(one.hWnd, WM_KEYDOWN, VK_RETURN, 0);
    ui::SYSREFRESH();
    EXPECT_EQ(GetFocus(), two.hWnd) << "Enter went past the dialog manager";
}

TEST(ModelessDialog, TheObjectTakesItsOpenWindowWithIt) {
    HWND window = nullptr;
    {
        TDialog dialog(Caption("Breve"));
        ui::TSay say(Placement::Box(&dialog, 10, 10, 100, 20), ui::FixedText("ciao"));
        dialog.Activate(Modeless());
        window = dialog.hWnd;
        ASSERT_TRUE(IsWindow(window));
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ui::Framework().modeless.size(), 0u);
}

TEST(ModelessDialog, AFullListRefusesWithTheAlertAndMakesNoWindow) {
    ui::ModelessList& list = ui::Framework().modeless;
    std::vector<ui::ModelessList::Handle> taken;
    for (ui::ModelessList::Handle h = 1; list.CanRegister(); ++h) {
        list.Register(h);
        taken.push_back(h);
    }
    TDialog dialog(Caption("Troppi"));
    ui::TSay say(Placement::Box(&dialog, 10, 10, 100, 20), ui::FixedText("ciao"));
    std::vector<std::string> seen;
    {
        BoxAnswerer answerer;
        dialog.Activate(Modeless());
        seen = answerer.Seen();
    }
    for (ui::ModelessList::Handle h : taken) {
        list.Deregister(h);
    }
    EXPECT_EQ(dialog.hWnd, nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Alert");
    EXPECT_EQ(seen[1], "Not possible to create more non-modal Dialogs");
    EXPECT_EQ(list.size(), 0u);
}

// --- Dialogs from the library's resources --------------------------------------

TEST(ResourceDialog, ItsControlsTakeOverTheResourceItemsAndItKeepsTheResourceStyle) {
    std::string prompt_seen;
    std::string field_seen;
    std::string value = "nastro";
    DialogOptions options;
    options.caption = "Da risorsa";
    options.resource_name = "MSGGET";
    TDialog dialog(options);
    ui::TSay prompt(Placement::Item(&dialog, 101), ui::FixedText("Nome:"));
    ui::TGet field(Placement::Item(&dialog, 102), ui::BindTo(value));
    dialog.lModify = false;
    ActivateOptions run;
    run.init = [&](TDialog& d) {
        prompt_seen = prompt.GetText();
        field_seen = field.GetText();
        SetWindowTextA(field.hWnd, "cambiato");  // as if typed: reaches the value at once
        d.End(5);
        return true;
    };
    dialog.Activate(run);
    EXPECT_EQ(dialog.nResult, 5);
    EXPECT_EQ(prompt_seen, "Nome:");
    EXPECT_EQ(field_seen, "nastro");
    EXPECT_EQ(value, "cambiato");
    EXPECT_TRUE(dialog.lModify);
    EXPECT_NE(dialog.nStyle & WS_SYSMENU, 0u);
}

TEST(ResourceDialog, Resize16WidensItAndItsControlsBySevenSixths) {
    struct Widths {
        LONG dialog = 0, field = 0, field_left = 0;
    };
    auto measure = [](bool resize16) {
        std::string value;
        DialogOptions options;
        options.resource_name = "MSGGET";
        TDialog dialog(options);
        ui::TGet field(Placement::Item(&dialog, 102), ui::BindTo(value));
        Widths widths;
        ActivateOptions run;
        run.resize16 = resize16;
        run.init = [&](TDialog& d) {
            RECT frame{}, box{};
            GetWindowRect(d.hWnd, &frame);
            GetWindowRect(field.hWnd, &box);
            widths = {frame.right - frame.left, box.right - box.left, box.left - frame.left};
            d.End(1);
            return true;
        };
        dialog.Activate(run);
        return widths;
    };
    const Widths plain = measure(false);
    const Widths widened = measure(true);
    EXPECT_NEAR(widened.dialog, plain.dialog * 7.0 / 6, 1.0);
    EXPECT_NEAR(widened.field, plain.field * 7.0 / 6, 1.0);
    EXPECT_GT(widened.field_left, plain.field_left);
}

// --- The please-wait window's text variant --------------------------------------

TEST(WaitBox, ShowsItsMessageInArialBesideTheExclamationIconUnderTheWaitCursor) {
    common::ResetLibrary();
    common::WaitRequest request;
    request.nMin = 0;
    request.nMax = 4;
    common::POPMSG("Un momento & poi;ancora uno", std::nullopt, std::nullopt, request);
    auto* box = dynamic_cast<common::TMsgBox*>(common::Library().wait_window.get());
    ASSERT_NE(box, nullptr);
    TDialog& dialog = *box->oDlg();
    ASSERT_EQ(dialog.aControls.size(), 3u);

    HWND icon = dialog.aControls[0]->hWnd;
    EXPECT_EQ(GetWindowLongPtrA(icon, GWL_STYLE) & SS_TYPEMASK, SS_ICON);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)),
              LoadIconA(nullptr, MAKEINTRESOURCEA(32515)));

    HWND line = dialog.aControls[1]->hWnd;
    EXPECT_EQ(testing::TextOf(line), "Un momento & poi\r\nancora uno");
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(line, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "Arial");
    EXPECT_EQ(font.lfHeight, -15);
    EXPECT_LT(font.lfWeight, FW_BOLD);

    EXPECT_EQ(box->oPrg(), dialog.aControls[2]);
    EXPECT_EQ(SendMessageA(box->oPrg()->hWnd, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageA(box->oPrg()->hWnd, PBM_GETRANGE, FALSE, 0), 4);

    EXPECT_EQ(SendMessageA(dialog.hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(line),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_WAIT));
    EXPECT_EQ(GetWindowLongPtrA(dialog.hWnd, GWL_STYLE) & WS_SYSMENU, 0) << "no close box";

    HWND window = dialog.hWnd;
    common::POPMSG(std::nullopt, std::nullopt);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(common::CURMSG().has_value());
}

// --- A confirmed close over folder pages -----------------------------------------

struct FolderForm {
    std::string name = "KESTREL";
    std::string date = "31/02/21";
    std::string amount = "1234567";
    bool amount_active = false;
    bool name_valid = true;
    std::vector<bool> valid_answers;  // what the dialog's validation callback answered
    TDialog dialog{Caption("Scheda")};
    ui::TFolder folder{Placement::Box(&dialog, 5, 5, 280, 140), {"Uno", "Due"}};
    ui::TGet name_field{Placement::Box(folder.aDialogs()[0], 10, 10, 150, 22), ui::BindTo(name)};
    ui::TGet date_field{Placement::Box(folder.aDialogs()[1], 10, 10, 90, 22),
                        ui::BindTo(date),
                        {.kind = ui::TControl::ValueKind::kDate}};
    ui::TGet amount_field{Placement::Box(folder.aDialogs()[1], 40, 10, 90, 22),
                          ui::BindTo(amount),
                          {.kind = ui::TControl::ValueKind::kNumber, .width = 5}};

    FolderForm() {
        dialog.lModify = false;
        name_field.Cargo = [this](ui::TControl&) { return name_valid; };
        amount_field.bWhen = [this] { return amount_active; };
    }

    // Runs the dialog; `during` plays the user once it is up, then it is closed.
    void Run(const std::function<void(TDialog&)>& during) {
        dialog.bStart = [this, during] {
            during(dialog);
            dialog.bValid = nullptr;
            dialog.End();
        };
        ActivateOptions run;
        run.valid = [this](TDialog& d) {
            valid_answers.push_back(common::VALID(d, false));
            return valid_answers.back();
        };
        dialog.Activate(run);
    }

    bool ConfirmedClose() {
        dialog.Cargo = 1;
        return common::VALID(dialog, false);
    }
};

TEST(FolderValidation, AnInvalidDateOnTheSecondPageBringsItToTheFrontAndIsFlagged) {
    FolderForm form;
    form.Run([&](TDialog& d) {
        EXPECT_EQ(form.folder.nOption(), 1);
        std::vector<std::string> seen;
        {
            BoxAnswerer answerer;
            EXPECT_FALSE(form.ConfirmedClose());
            seen = answerer.Seen();
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"Attenzione", "Data non valida."}));
        EXPECT_EQ(form.folder.nOption(), 2);
        EXPECT_TRUE(IsWindowVisible(form.folder.aDialogs()[1]->hWnd));
        EXPECT_FALSE(IsWindowVisible(form.folder.aDialogs()[0]->hWnd));
        EXPECT_EQ(GetFocus(), form.date_field.hWnd);
        EXPECT_EQ(form.date_field.nClrPane, GetSysColor(COLOR_WINDOW)) << "colour restored";
        EXPECT_FALSE(d.Cargo.has_value()) << "a failed confirmed close is cleared";

        SetWindowTextA(form.date_field.hWnd, "");
        EXPECT_TRUE(form.ConfirmedClose()) << "a cleared date field holds the empty date";
        EXPECT_EQ(form.date, "");
        SetWindowTextA(form.date_field.hWnd, "28/02/21");
        EXPECT_TRUE(form.ConfirmedClose()) << "the inactive number field is never validated";
        EXPECT_EQ(form.date, "28/02/21");
    });
}

TEST(FolderValidation, ACloseAskedWhileARefusalShowsIsRefusedAndTheCloseBoxThenCloses) {
    FolderForm form;
    form.Run([&](TDialog& d) {
        std::vector<std::string> seen;
        {
            // A close request that arrives while the refused confirmed close shows
            // its message is decided while the first validation still runs.
            HWND window = d.hWnd;
            BoxAnswerer answerer(IDOK, [window] { SendMessageA(window, WM_CLOSE, 0, 0); });
            EXPECT_FALSE(form.ConfirmedClose());
            seen = answerer.Seen();
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"Attenzione", "Data non valida."}));
        EXPECT_EQ(form.valid_answers, std::vector<bool>{false});
        EXPECT_FALSE(d.IsEnded());

        // The close code was cleared: the close box now makes an unconfirmed close,
        // allowed without validating the bad date again.
        SendMessageA(d.hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        ui::SYSREFRESH();
        EXPECT_EQ(form.valid_answers, (std::vector<bool>{false, true}));
        EXPECT_TRUE(d.IsEnded());
        EXPECT_EQ(d.nResult, IDCANCEL);
    });
}

TEST(FolderValidation, ActiveFieldsAnswerTheirOwnTestsInPageOrder) {
    FolderForm form;
    form.date = "  /  /  ";  // the empty date is no bad date
    form.name_valid = false;
    form.amount_active = true;
    form.Run([&](TDialog&) {
        std::vector<std::string> seen;
        {
            BoxAnswerer answerer;
            EXPECT_FALSE(form.ConfirmedClose());
            form.name_valid = true;
            EXPECT_FALSE(form.ConfirmedClose());
            seen = answerer.Seen();
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"Attenzione", "Campo non valido.", "Attenzione",
                                                  "Numero troppo grande."}));
        EXPECT_EQ(form.folder.nOption(), 2);
        EXPECT_EQ(GetFocus(), form.amount_field.hWnd);
    });
}

TEST(FolderValidation, APageEditMarksThePageAndTheQuestionIsAskedOnlyThen) {
    FolderForm form;
    form.Run([&](TDialog& d) {
        ui::TDialog& page = *form.folder.aDialogs()[0];
        EXPECT_FALSE(page.lModify);
        EXPECT_TRUE(common::VALID(d, true)) << "nothing modified: no question";
        SetWindowTextA(form.name_field.hWnd, "ALTRO");
        EXPECT_TRUE(page.lModify);
        EXPECT_EQ(form.name, "ALTRO");
        SetFocus(form.name_field.hWnd);
        std::vector<std::string> seen;
        {
            BoxAnswerer answerer(IDNO);
            EXPECT_FALSE(common::VALID(d, true));
            seen = answerer.Seen();
        }
        EXPECT_EQ(GetFocus(), form.name_field.hWnd) << "No gives the focus back";
        EXPECT_EQ(seen, (std::vector<std::string>{"Attenzione", "Annullo le modifiche?"}));
        EXPECT_TRUE(d.lModify);
        common::RESETMODIFY(form.folder);
        EXPECT_FALSE(page.lModify);
    });
}

}  // namespace
}  // namespace kestrel
