#include "ui/dialog_template.h"

namespace kestrel::ui {

namespace {

class TemplateWriter {
  public:
    void Word(std::uint16_t value) {
        bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void Dword(std::uint32_t value) {
        Word(static_cast<std::uint16_t>(value & 0xFFFF));
        Word(static_cast<std::uint16_t>(value >> 16));
    }
    void Box(const DialogUnitBox& box) {
        Word(static_cast<std::uint16_t>(box.x));
        Word(static_cast<std::uint16_t>(box.y));
        Word(static_cast<std::uint16_t>(box.cx));
        Word(static_cast<std::uint16_t>(box.cy));
    }
    void String(const std::u16string& text) {
        for (char16_t c : text) {
            Word(static_cast<std::uint16_t>(c));
        }
        Word(0);
    }
    void AlignTo4() {
        while (bytes_.size() % 4 != 0) {
            bytes_.push_back(0);
        }
    }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

  private:
    std::vector<std::uint8_t> bytes_;
};

std::int16_t Units(int pixels, int factor, int base) {
    return static_cast<std::int16_t>(factor * pixels / base);
}

}  // namespace

DialogUnitBox DialogUnitsOf(const PixelBox& box, int owner_left, int owner_top,
                            DialogBaseUnits units) {
    DialogUnitBox out;
    out.x = Units(box.left - owner_left, 4, units.horizontal);
    out.y = Units(box.top - owner_top, 8, units.vertical);
    const int right = Units(box.right - owner_left, 4, units.horizontal);
    const int bottom = Units(box.bottom - owner_top, 8, units.vertical);
    out.cx = static_cast<std::int16_t>(right - out.x + 1);
    out.cy = static_cast<std::int16_t>(bottom - out.y + 1);
    return out;
}

DialogUnitBox ItemUnitsOf(const PixelBox& box, DialogBaseUnits units) {
    DialogUnitBox out;
    out.x = Units(box.left, 8, units.horizontal);
    out.y = Units(box.top, 16, units.vertical);
    const int right = Units(box.right, 8, units.horizontal);
    const int bottom = Units(box.bottom, 16, units.vertical);
    out.cx = static_cast<std::int16_t>(right - out.x + 1);
    out.cy = static_cast<std::int16_t>(bottom - out.y + 1);
    return out;
}

std::vector<std::uint8_t> BuildDialogTemplate(const TemplateHeader& header,
                                              const std::vector<TemplateItem>& items) {
    TemplateWriter out;
    out.Dword(header.style);
    out.Dword(0);  // extended style
    out.Word(static_cast<std::uint16_t>(items.size()));
    out.Box(header.box);
    out.Word(0);  // no menu
    out.Word(0);  // the default dialog class
    out.String(header.caption);
    out.AlignTo4();

    for (const TemplateItem& item : items) {
        out.Dword(item.style);
        out.Dword(0);  // extended style
        out.Box(item.box);
        out.Word(item.id);
        out.String(item.class_name);
        out.String(item.caption);
        out.Word(0);  // no creation data
        out.AlignTo4();
    }
    return out.Take();
}

}  // namespace kestrel::ui
