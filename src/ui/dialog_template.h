#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::ui {

// The platform's dialog base units: how many pixels make 4 horizontal and 8
// vertical dialog units.
struct DialogBaseUnits {
    int horizontal = 8;
    int vertical = 16;
};

// A box in pixels, bottom and right inclusive.
struct PixelBox {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
};

struct DialogUnitBox {
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
};

// The dialog's box relative to its owner's top-left corner (0, 0 without owner).
DialogUnitBox DialogUnitsOf(const PixelBox& box, int owner_left, int owner_top,
                            DialogBaseUnits units);

// A control's box: the same rule with twice the factors.
DialogUnitBox ItemUnitsOf(const PixelBox& box, DialogBaseUnits units);

struct TemplateItem {
    std::uint32_t style = 0;
    std::uint16_t id = 0;
    DialogUnitBox box;
    std::u16string class_name;  // e.g. u"EDIT"
    std::u16string caption;
};

struct TemplateHeader {
    std::uint32_t style = 0;
    DialogUnitBox box;
    std::u16string caption;
};

// The bytes of an in-memory dialog template: the header (no menu, the default
// dialog class, the caption, no font) and one item per control, each item starting
// on a 4-byte boundary, strings as zero-terminated UTF-16 on 2-byte boundaries.
// Extended styles are 0. The result's storage is 4-byte aligned when copied into
// memory that is.
std::vector<std::uint8_t> BuildDialogTemplate(const TemplateHeader& header,
                                              const std::vector<TemplateItem>& items);

}  // namespace kestrel::ui
