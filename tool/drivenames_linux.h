// The names an optical drive goes by on Linux, which the configuration's
// patterns are matched against.
#pragma once

#include <string>
#include <vector>

namespace velotune::tool {

// Where udev puts the links that name a drive across boots.
inline const std::vector<std::string> kStableNameDirs = {"/dev/disk/by-id", "/dev/disk/by-path",
                                                         "/dev"};

// `given` as it was given, the path with its links resolved, and each link in
// `linkDirs` (not their subfolders) that resolves to the same path, in folder
// order and sorted within a folder. Names that cannot be resolved are skipped.
std::vector<std::string> DriveNames(const std::string& given,
                                    const std::vector<std::string>& linkDirs = kStableNameDirs);

} // namespace velotune::tool
