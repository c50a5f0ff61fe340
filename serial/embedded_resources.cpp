#include "serial/embedded_resources.h"

#include <algorithm>
#include <cctype>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::toupper(x) == std::toupper(y); });
}

} // namespace

const EmbeddedResource* FindEmbeddedResource(TResourceModule module, std::string_view name) {
    auto found = std::ranges::find_if(
        module, [name](const EmbeddedResource& resource) { return SameName(resource.Name, name); });
    return found == module.end() ? nullptr : &*found;
}
