#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/popmsg.h"

namespace kestrel::common {
namespace {

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
    void CloseWaitWindow() override { events.push_back("close wait"); }
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

using Events = std::vector<std::string>;

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
