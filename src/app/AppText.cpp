#include "app/AppText.h"

#include "base/Text.h"

namespace tarnwick::app {

std::string CountCaption(int count) { return "Total " + std::to_string(count) + " files upload Success..!"; }

std::string ApplicationTitle(std::string_view executablePath) {
    const auto slash = executablePath.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    name = name.substr(0, name.find('.'));
    if (name.empty()) return {};
    return std::string(1, name.front()) + AsciiLowerCase(name.substr(1));
}

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
    return text;
}

}  // namespace tarnwick::app
