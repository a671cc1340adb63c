// The names an optical drive goes by on Linux, which the configuration's
// patterns are matched against.
#pragma once

#include <string>
#include <vector>

namespace velotune::tool {

// A folder whose links may name a drive, and the beginnings of the link names
// looked at there (none: every link in it).
struct LinkPlace {
    std::string dir;
    std::vector<std::string> prefixes;
};

// Where udev puts the links that name a drive across boots: the folders of
// stable names, and in /dev the optical drives' own links.
inline const std::vector<LinkPlace> kStableNamePlaces = {
    {"/dev/disk/by-id", {}}, {"/dev/disk/by-path", {}}, {"/dev", {"cdrom", "cdrw", "dvd"}}};

// `given` as it was given, the path with its links resolved, and each link of
// `places` (not their subfolders) that resolves to the same path, in place
// order and sorted within a place. Names that cannot be resolved are skipped.
std::vector<std::string> DriveNames(const std::string& given,
                                    const std::vector<LinkPlace>& places = kStableNamePlaces);

} // namespace velotune::tool
