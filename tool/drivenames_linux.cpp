// The names an optical drive goes by on Linux.
#include "tool/drivenames_linux.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velotune::tool {
namespace {

bool Looked(const LinkPlace& place, const std::string& name) {
    return place.prefixes.empty() ||
           std::any_of(place.prefixes.begin(), place.prefixes.end(),
                       [&](const std::string& prefix) { return name.rfind(prefix, 0) == 0; });
}

} // namespace

std::vector<std::string> DriveNames(const std::string& given,
                                    const std::vector<LinkPlace>& places) {
    namespace fs = std::filesystem;
    std::vector<std::string> names{given};
    std::error_code ec;
    const fs::path resolved = fs::canonical(given, ec);
    if (ec) return names;
    names.push_back(resolved.string());
    for (const LinkPlace& place : places) {
        std::vector<std::string> links;
        for (fs::directory_iterator it(place.dir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code entryError;
            if (!Looked(place, it->path().filename().string())) continue;
            if (!it->is_symlink(entryError) || entryError) continue;
            const fs::path target = fs::canonical(it->path(), entryError);
            if (!entryError && target == resolved) links.push_back(it->path().string());
        }
        std::sort(links.begin(), links.end());
        names.insert(names.end(), links.begin(), links.end());
    }
    return names;
}

} // namespace velotune::tool
