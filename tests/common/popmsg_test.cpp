#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/library_state.h"
#include "common/popmsg.h"

namespace kestrel::common {
namespace {

using Events = std::vector<std::string>;

// A wait window that writes what is asked of it on the services' timeline.
class FakeWaitBox : public WaitBox {
  public:
    explicit FakeWaitBox(Events& events) : events_(events) {}
    void End() override { events_.push_back("wait end"); }
    void SetMsg(const std::string& text) override { events_.push_back("wait text " + text); }
    void SetPos(int position) override {
        events_.push_back("wait pos " + std::to_string(position));
    }
    void SetPag(int page) override { events_.push_back("wait page " + std::to_string(page)); }

  private:
    Events& events_;
};

// Records on one timeline what POPMSG asks of the platform, and answers the box
// with a scripted button.
class FakePopupServices : public PopupServices {
  public:
    explicit FakePopupServices(int button = 0) : button_(button) {}

    std::string OemToAnsi(std::string_view text) override {
        events.push_back("oem");
        std::string ansi(text);
        for (char& c : ansi) {
            if (static_cast<unsigned char>(c) == 0x85) {
                c = static_cast<char>(0xE0);  // OEM "à" to ANSI "à"
            }
        }
        return ansi;
    }
    void CloseWaitWindow() override {
        events.push_back("close wait");
        CloseOpenWaitWindow();
    }
    std::unique_ptr<WaitBox> OpenWaitBox(const std::string& text,
                                         std::optional<std::string_view> title,
                                         const WaitRequest& request) override {
        events.push_back("wait open " + text + "|" + std::string(title.value_or("-")) +
                         (request.lPrint ? "|print" : "") + (request.nMin ? "|progress" : ""));
        return std::make_unique<FakeWaitBox>(events);
    }
    // A platform whose progress bars count from one.
    int ProgressPosition(int position) override { return position + 1; }
    void Tone() override { events.push_back("tone"); }
    int ShowMessageBox(const std::string& text, const std::string& title, unsigned style) override {
        events.push_back("box " + std::to_string(style));
        shown_text = text;
        shown_title = title;
        return button_;
    }
    void Refresh() override { events.push_back("refresh"); }

    std::vector<std::string> events;
    std::string shown_text;
    std::string shown_title;

  private:
    int button_;
};

TEST(PopMessage, InformationShowsTheLinesUnderAttenzioneWithoutToneAndAnswersNothing) {
    FakePopupServices services(kButtonOk);
    PopAnswer answer = PopMessage(services, "uno;due", kPopInformation, std::nullopt);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(answer));
    EXPECT_EQ(services.shown_text, "uno\r\ndue");
    EXPECT_EQ(services.shown_title, "Attenzione");
    EXPECT_EQ(services.events, (Events{"close wait", "box 64", "refresh"}));
}

TEST(PopMessage, EveryOtherKindSoundsTheToneBeforeItsBox) {
    struct Case {
        int kind;
        unsigned style;
    };
    for (Case c : {Case{2, 33}, Case{3, 35}, Case{4, 36}, Case{5, 292}, Case{6, 17}}) {
        FakePopupServices services(kButtonCancel);
        PopMessage(services, "?", c.kind, "Titolo");
        EXPECT_EQ(services.events,
                  (Events{"close wait", "tone", "box " + std::to_string(c.style), "refresh"}))
            << "kind " << c.kind;
        EXPECT_EQ(services.shown_title, "Titolo");
    }
}

TEST(PopMessage, LogicalKindsAreTrueOnlyForOkOrYes) {
    auto answer = [](int kind, int button) {
        FakePopupServices services(button);
        return std::get<bool>(PopMessage(services, "x", kind, std::nullopt));
    };
    EXPECT_TRUE(answer(kPopOkCancel, kButtonOk));
    EXPECT_FALSE(answer(kPopOkCancel, kButtonCancel));
    EXPECT_TRUE(answer(kPopStopOkCancel, kButtonOk));
    EXPECT_FALSE(answer(kPopStopOkCancel, kButtonCancel));
    EXPECT_TRUE(answer(kPopYesNo, kButtonYes));
    EXPECT_FALSE(answer(kPopYesNo, kButtonNo));
    EXPECT_TRUE(answer(kPopYesNoDefaultNo, kButtonYes));
    EXPECT_FALSE(answer(kPopYesNoDefaultNo, kButtonNo));
    EXPECT_FALSE(answer(kPopYesNo, 0));  // a box that could not be shown is no Yes
}

TEST(PopMessage, YesNoCancelAnswersTheRawButtonCode) {
    for (int button : {kButtonYes, kButtonNo, kButtonCancel, 0}) {
        FakePopupServices services(button);
        EXPECT_EQ(std::get<int>(PopMessage(services, "x", kPopYesNoCancel, std::nullopt)), button);
    }
}

TEST(PopMessage, AnyOtherNumberShowsNothingButStillClosesTheWaitWindowAndRefreshes) {
    for (int kind : {0, 7, -1, 64}) {
        FakePopupServices services(kButtonOk);
        PopAnswer answer = PopMessage(services, "x", kind, std::nullopt);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(answer)) << kind;
        EXPECT_EQ(services.events, (Events{"close wait", "refresh"})) << kind;
    }
}

TEST(PopMessage, AnAbsentTextShowsAnEmptyBox) {
    FakePopupServices services(kButtonOk);
    PopMessage(services, std::nullopt, kPopInformation, std::nullopt);
    EXPECT_EQ(services.shown_text, "");
}

TEST(MessageText, SemicolonsBecomeLineBreaks) {
    auto same = [](std::string_view text) { return std::string(text); };
    EXPECT_EQ(PrepareMessageText("a;;b;", same), "a\r\n\r\nb\r\n");
    EXPECT_EQ(PrepareMessageText("", same), "");
}

TEST(MessageText, ABytefromTheOemRangeConvertsTheWholeTextBeforeTheLinesAreSplit) {
    std::vector<std::string> converted;
    auto oem = [&converted](std::string_view text) {
        converted.emplace_back(text);
        return std::string("converted;text");
    };
    EXPECT_EQ(PrepareMessageText("citt\x85;ok", oem), "converted\r\ntext");
    EXPECT_EQ(converted, (std::vector<std::string>{"citt\x85;ok"}));

    for (unsigned char low_edge : {129, 168}) {
        converted.clear();
        PrepareMessageText(std::string("x") + static_cast<char>(low_edge), oem);
        EXPECT_EQ(converted.size(), 1u) << int{low_edge};
    }
    for (unsigned char outside : {128, 169, 0xE0, 0x7F}) {
        converted.clear();
        std::string text = std::string("x") + static_cast<char>(outside);
        EXPECT_EQ(PrepareMessageText(text, oem), text) << int{outside};
        EXPECT_TRUE(converted.empty()) << int{outside};
    }
}

TEST(PopMessage, AnOemTextIsShownInAnsi) {
    FakePopupServices services(kButtonOk);
    PopMessage(services, "Porta gi\x85 aperta;COM1", kPopInformation, std::nullopt);
    EXPECT_EQ(services.shown_text, "Porta gi\xE0 aperta\r\nCOM1");
    EXPECT_EQ(services.events.front(), "oem");
}

}  // namespace
}  // namespace kestrel::common

namespace kestrel::common {
namespace {

// The wait window, driven through POPMSG without a kind.
class WaitWindowOperations : public ::testing::Test {
  protected:
    void SetUp() override { ResetLibrary(); }
    void TearDown() override { ResetLibrary(); }

    void Wait(std::optional<std::string_view> text, WaitRequest request = {}) {
        PopMessage(services, text, std::nullopt, std::nullopt, request);
    }

    FakePopupServices services;
};

TEST_F(WaitWindowOperations, ClosingWithNoWindowOpenDoesNothing) {
    Wait(std::nullopt);
    EXPECT_EQ(services.events, (Events{"close wait", "refresh"}));
    EXPECT_FALSE(CURMSG().has_value());
}

TEST_F(WaitWindowOperations, OneWindowOpensAndAPlainSecondRequestOpensNoOther) {
    Wait("Attendi;prego");
    EXPECT_EQ(CURMSG(), "Attendi\r\nprego");
    Wait("altro testo");
    EXPECT_EQ(services.events, (Events{"wait open Attendi\r\nprego|-", "refresh", "refresh"}));
    EXPECT_EQ(CURMSG(), "Attendi\r\nprego");
    Wait(std::nullopt);
    EXPECT_EQ(services.events.at(3), "close wait");
    EXPECT_EQ(services.events.at(4), "wait end");
    EXPECT_FALSE(CURMSG().has_value());
}

TEST_F(WaitWindowOperations, AnEmptyOrBlankTextIsTheEmptyCurrentText) {
    for (std::string_view blank : {"", "     ", ";", "\t;"}) {
        Wait(blank);
        EXPECT_EQ(CURMSG(), "") << '"' << blank << '"';
        Wait(std::nullopt);
    }
}

TEST_F(WaitWindowOperations, UpdatesChangeTheTextAndMoveTheProgressBar) {
    Wait("Copia", {.nMin = 0, .nMax = 10});
    Wait("Copia 2 di 10", {.lSetMsg = true, .nPos = 2});
    EXPECT_EQ(services.events, (Events{"wait open Copia|-|progress", "refresh",
                                       "wait text Copia 2 di 10", "wait pos 3", "refresh"}));
    EXPECT_EQ(CURMSG(), "Copia 2 di 10");
    Wait("Copia 5 di 10", {.nPos = 5});  // without lSetMsg the text stays
    EXPECT_EQ(services.events.at(5), "wait pos 6");
    EXPECT_EQ(CURMSG(), "Copia 2 di 10");
    Wait(std::nullopt, {.nPos = 6});  // no text at all is the request to close
    EXPECT_EQ(services.events.at(7), "close wait");
    EXPECT_FALSE(CURMSG().has_value());
}

TEST_F(WaitWindowOperations, ThePrintingVariantCountsItsPagesFromOne) {
    Wait(std::nullopt, {.lPrint = true});
    for (int i = 0; i < 3; ++i) {
        Wait(std::nullopt, {.lPag = true});
    }
    EXPECT_EQ(services.events, (Events{"wait open |-|print", "refresh", "wait page 1", "refresh",
                                       "wait page 2", "refresh", "wait page 3", "refresh"}));
    EXPECT_FALSE(CURMSG().has_value());
}

TEST_F(WaitWindowOperations, EveryBoxKindClosesTheWaitWindowBeforeItShows) {
    for (int kind : {int{kPopInformation}, int{kPopYesNoDefaultNo}, 9}) {
        services.events.clear();
        Wait("Elaborazione", {});
        PopMessage(services, "Fatto", kind, std::nullopt);
        ASSERT_GE(services.events.size(), 4u);
        EXPECT_EQ(services.events[2], "close wait") << kind;
        EXPECT_EQ(services.events[3], "wait end") << kind;
        EXPECT_FALSE(CURMSG().has_value());
        EXPECT_FALSE(Library().wait_window);
    }
}

}  // namespace
}  // namespace kestrel::common
