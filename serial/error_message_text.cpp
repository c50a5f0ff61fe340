#include "serial/error_message_text.h"

#include "serial/ad_string_resource.h"
#include "serial/platform/format_message.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t kMaxText = 255;

} // namespace

std::string CleanSystemMessage(std::string_view Text) {
    std::string cleaned;
    cleaned.reserve(Text.size());
    for (char c : Text) {
        char spaced = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        if (!(spaced == ' ' && !cleaned.empty() && cleaned.back() == ' '))
            cleaned.push_back(spaced);
    }
    return cleaned;
}

std::string ErrorMessageText(int Id) {
    int magnitude = std::abs(static_cast<int>(static_cast<std::int16_t>(Id)));
    std::string text = ErrorStringResource().Lookup(magnitude);
    if (text.empty())
        text = CleanSystemMessage(FormatMessageA(static_cast<DWORD>(magnitude)));
    if (text.size() > kMaxText)
        text.resize(kMaxText);
    return text;
}
