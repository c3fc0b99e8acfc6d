// GETPVPROFSTRING and WRITEPPROSTRING over the platform's private profile files.
#include <windows.h>

#include <algorithm>
#include <array>
#include <string>

#include "ui/profile.h"

namespace kestrel::ui {

namespace {

constexpr std::size_t kValueBufferSize = 4096;

// The platform's argument for an optional string: the text, or none.
class OptionalText {
  public:
    explicit OptionalText(std::optional<std::string_view> text)
        : present_(text.has_value()), text_(text.value_or("")) {}
    const char* get() const { return present_ ? text_.c_str() : nullptr; }

  private:
    bool present_;
    std::string text_;  // owns its terminating zero
};

}  // namespace

std::string GETPVPROFSTRING(std::optional<std::string_view> section,
                            std::optional<std::string_view> key, std::string_view fallback,
                            const std::string& file) {
    OptionalText section_text(section);
    OptionalText key_text(key);
    std::string fallback_text(fallback);
    std::array<char, kValueBufferSize> buffer{};
    DWORD count = GetPrivateProfileStringA(section_text.get(), key_text.get(),
                                           fallback_text.c_str(), buffer.data(),
                                           static_cast<DWORD>(buffer.size() - 1), file.c_str());
    std::size_t length = count & 0xFFFFu;
    return std::string(buffer.data(), std::min(length, buffer.size() - 1));
}

bool WRITEPPROSTRING(std::string_view section, std::optional<std::string_view> key,
                     std::optional<std::string_view> value, const std::string& file) {
    std::string section_text(section);
    OptionalText key_text(key);
    OptionalText value_text(value);
    return WritePrivateProfileStringA(section_text.c_str(), key_text.get(), value_text.get(),
                                      file.c_str()) != FALSE;
}

}  // namespace kestrel::ui
