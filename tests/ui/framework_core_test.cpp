// The window framework's platform-neutral parts: the in-memory dialog template,
// the modeless dialog list, the error records, the log's display text and the
// failure kept at a callback boundary.
#include <gtest/gtest.h>

#include <stdexcept>

#include "errors/raise.h"
#include "ui/dialog_template.h"
#include "ui/edit_text.h"
#include "ui/framework_errors.h"
#include "ui/modeless_list.h"
#include "ui/pending_failure.h"

namespace kestrel::ui {
namespace {

std::uint16_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}
std::uint32_t DwordAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return WordAt(bytes, offset) | static_cast<std::uint32_t>(WordAt(bytes, offset + 2)) << 16;
}

TEST(DialogUnits, A500By500PixelWindowIsTwoThousandAndFourThousandOverTheBaseUnits) {
    for (DialogBaseUnits units :
         {DialogBaseUnits{8, 16}, DialogBaseUnits{6, 13}, DialogBaseUnits{7, 15}}) {
        DialogUnitBox box = DialogUnitsOf({0, 0, 500, 500}, 0, 0, units);
        EXPECT_EQ(box.x, 0);
        EXPECT_EQ(box.y, 0);
        EXPECT_EQ(box.cx, 2000 / units.horizontal + 1);
        EXPECT_EQ(box.cy, 4000 / units.vertical + 1);
    }
}

TEST(DialogUnits, TheBoxIsRelativeToTheOwnerAndTruncated) {
    DialogUnitBox box = DialogUnitsOf({110, 107, 210, 307}, 100, 100, {8, 16});
    EXPECT_EQ(box.x, 3);             // 4 * 7 / 8 = 3.5
    EXPECT_EQ(box.y, 5);             // 8 * 10 / 16
    EXPECT_EQ(box.cx, 103 - 3 + 1);  // right edge 4 * 207 / 8 = 103.5
    EXPECT_EQ(box.cy, 55 - 5 + 1);   // bottom edge 8 * 110 / 16
    // A window left of its owner gets a negative position, truncated toward zero.
    EXPECT_EQ(DialogUnitsOf({0, 95, 10, 200}, 100, 0, {8, 16}).x, -2);
}

TEST(DialogUnits, ControlsUseTwiceTheFactors) {
    DialogUnitBox box = ItemUnitsOf({0, 0, 79, 199}, {8, 16});
    EXPECT_EQ(box.x, 0);
    EXPECT_EQ(box.y, 0);
    EXPECT_EQ(box.cx, 199 + 1);
    EXPECT_EQ(box.cy, 79 + 1);
}

TEST(DialogTemplate, HeaderCarriesStyleCountBoxAndCaptionWithNoMenuClassOrFont) {
    TemplateHeader header{0, {0, 0, 251, 251}, u"K\u00e8"};
    TemplateItem item{0x50A11804, 101, {1, 2, 3, 4}, u"EDIT", u""};
    std::vector<std::uint8_t> bytes = BuildDialogTemplate(header, {item});

    EXPECT_EQ(DwordAt(bytes, 0), 0u);  // style 0: no system menu, no close box
    EXPECT_EQ(DwordAt(bytes, 4), 0u);  // extended style
    EXPECT_EQ(WordAt(bytes, 8), 1u);   // one item
    EXPECT_EQ(WordAt(bytes, 14), 251u);
    EXPECT_EQ(WordAt(bytes, 16), 251u);
    EXPECT_EQ(WordAt(bytes, 18), 0u);  // no menu
    EXPECT_EQ(WordAt(bytes, 20), 0u);  // the default dialog class
    EXPECT_EQ(WordAt(bytes, 22), u'K');
    EXPECT_EQ(WordAt(bytes, 24), 0xE8u);
    EXPECT_EQ(WordAt(bytes, 26), 0u);  // end of caption; no font entry follows
    // The item starts on the next 4-byte boundary.
    const std::size_t item_at = 28;
    EXPECT_EQ(DwordAt(bytes, item_at), 0x50A11804u);
    EXPECT_EQ(DwordAt(bytes, item_at + 4), 0u);
    EXPECT_EQ(WordAt(bytes, item_at + 8), 1u);
    EXPECT_EQ(WordAt(bytes, item_at + 14), 4u);
    EXPECT_EQ(WordAt(bytes, item_at + 16), 101u);
    EXPECT_EQ(WordAt(bytes, item_at + 18), u'E');
    EXPECT_EQ(WordAt(bytes, item_at + 24), u'T');
    EXPECT_EQ(WordAt(bytes, item_at + 26), 0u);  // end of class name
    EXPECT_EQ(WordAt(bytes, item_at + 28), 0u);  // empty caption
    EXPECT_EQ(WordAt(bytes, item_at + 30), 0u);  // no creation data
    EXPECT_EQ(bytes.size(), item_at + 32);
}

TEST(DialogTemplate, EveryItemStartsOnAFourByteBoundary) {
    std::vector<TemplateItem> items;
    for (std::u16string caption : {u"", u"a", u"ab", u"abc"}) {
        items.push_back({0, 0, {}, u"EDIT", caption});
    }
    std::vector<std::uint8_t> bytes = BuildDialogTemplate({0, {}, u"ab"}, items);
    EXPECT_EQ(bytes.size() % 4, 0u);
    std::size_t at = 28;  // header with a two-letter caption: 18 + 2 + 2 + 6 = 28
    for (const TemplateItem& item : items) {
        ASSERT_EQ(at % 4, 0u);
        ASSERT_EQ(WordAt(bytes, at + 18), u'E');
        at += 18 + 2 * (item.class_name.size() + 1) + 2 * (item.caption.size() + 1) + 2;
        at = (at + 3) / 4 * 4;
    }
    EXPECT_EQ(at, bytes.size());
}

TEST(ModelessList, RegistersUpToItsCapacityAndReusesFreedEntries) {
    ModelessList list;
    for (ModelessList::Handle h = 1; h <= ModelessList::kCapacity; ++h) {
        ASSERT_TRUE(list.Register(h));
    }
    EXPECT_FALSE(list.CanRegister());
    EXPECT_FALSE(list.Register(99999));
    list.Deregister(700);
    EXPECT_TRUE(list.CanRegister());
    EXPECT_TRUE(list.Register(99999));
    EXPECT_EQ(list.size(), ModelessList::kCapacity);
}

TEST(ModelessList, OffersToTheCachedDialogFirstThenInOrder) {
    ModelessList list;
    list.Register(10);
    list.Register(20);
    list.Register(30);
    std::vector<ModelessList::Handle> asked;
    EXPECT_TRUE(list.Offer([&](ModelessList::Handle h) {
        asked.push_back(h);
        return h == 20;
    }));
    EXPECT_EQ(asked, (std::vector<ModelessList::Handle>{10, 20}));
    asked.clear();
    EXPECT_TRUE(list.Offer([&](ModelessList::Handle h) {
        asked.push_back(h);
        return h == 20;
    }));
    EXPECT_EQ(asked, (std::vector<ModelessList::Handle>{20}));
    // A deregistered dialog is neither cached nor asked any more.
    list.Deregister(20);
    asked.clear();
    EXPECT_FALSE(list.Offer([&](ModelessList::Handle h) {
        asked.push_back(h);
        return false;
    }));
    EXPECT_EQ(asked, (std::vector<ModelessList::Handle>{10, 30}));
}

TEST(FrameworkErrors, RecordsCarryTheFrameworkSubsystemSubcodeAndOperation) {
    errors::ErrorRecord record =
        MakeFrameworkError(FrameworkError::kNonDefinedId, ControlIdOperation(101));
    EXPECT_EQ(record.SEVERITY, 2);
    EXPECT_FALSE(record.CANDEFAULT);
    EXPECT_EQ(record.SUBSYSTEM, std::string(kFrameworkSubsystem));
    EXPECT_EQ(record.SUBCODE, 1);
    EXPECT_EQ(record.DESCRIPTION, "Non defined Id");
    EXPECT_EQ(record.OPERATION, "No:    101");
    EXPECT_EQ(MakeFrameworkError(FrameworkError::kDuplicatedId, "").DESCRIPTION, "Duplicated Id");
    EXPECT_EQ(MakeFrameworkError(FrameworkError::kCannotCreateDialog, "").DESCRIPTION,
              "Cannot create Dialog Box");
    EXPECT_EQ(ControlIdOperation(30000), "No:  30000");
}

TEST(FrameworkErrors, DialogOperationNamesTheResourceOrTheTitle) {
    const std::string indent = "\r\n" + std::string(22, ' ');
    EXPECT_EQ(DialogOperation("MSGGET", "ignored"), indent + "Resource: MSGGET");
    EXPECT_EQ(DialogOperation("", "KESTREL 1.00"), indent + "Title: KESTREL 1.00");
    EXPECT_EQ(DialogOperation("", ""), indent + "Title: ");
}

TEST(FrameworkErrors, ReachTheInstalledErrorCallback) {
    std::vector<errors::ErrorRecord> seen;
    errors::SetErrorCallback([&](const errors::ErrorRecord& r) {
        seen.push_back(r);
        return errors::ErrorAnswer{};
    });
    RaiseFrameworkError(FrameworkError::kDuplicatedId, ControlIdOperation(5));
    errors::SetErrorCallback(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].SUBCODE, 2);
    EXPECT_THROW(RaiseFrameworkError(FrameworkError::kDuplicatedId, ""), errors::Abandon);
}

TEST(LogDisplay, ZeroBytesShowAsBlanksSoLaterLinesStayVisible) {
    std::string log = std::string("Sending file AB") + '\0' + "CD...\r\nnext\r\n";
    EXPECT_EQ(DisplayableText(log), "Sending file AB CD...\r\nnext\r\n");
}

TEST(PendingFailure, KeepsTheFirstFailureAndRaisesItOnce) {
    PendingFailure failure;
    int value = failure.Guard([]() -> int { throw std::runtime_error("first"); }, 7);
    EXPECT_EQ(value, 7);
    failure.Guard([]() -> int { throw std::logic_error("second"); }, 0);
    EXPECT_EQ(failure.Guard([] { return 3; }, 0), 3);
    ASSERT_TRUE(failure.pending());
    EXPECT_THROW(failure.Rethrow(), std::runtime_error);
    EXPECT_FALSE(failure.pending());
    EXPECT_NO_THROW(failure.Rethrow());
}

}  // namespace
}  // namespace kestrel::ui
