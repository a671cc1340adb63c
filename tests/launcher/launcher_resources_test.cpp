// The launcher's own resources (linked into this test program as they are
// into Velotray.exe): version information, icon and English menu.
#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<char> OwnVersionInfo() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path, &ignored));
    if (!block.empty())
        GetFileVersionInfoA(path, 0, static_cast<DWORD>(block.size()), block.data());
    return block;
}

std::string VersionString(std::vector<char>& block, const char* name) {
    char* text = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\041203b5\\") + name;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
        return "(missing)";
    return length ? std::string(text) : std::string();
}

} // namespace

TEST(LauncherResources, VersionIsKoreanCodePage949) {
    std::vector<char> block = OwnVersionInfo();
    ASSERT_FALSE(block.empty());
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0412);
    EXPECT_EQ(translation[1], 949);

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010003u);

    EXPECT_EQ(VersionString(block, "FileVersion"), "1.0.1.3");
    EXPECT_EQ(VersionString(block, "ProductVersion"), "1.01.3");
    for (const char* name : {"FileDescription", "ProductName", "Comments"})
        EXPECT_EQ(VersionString(block, name), "Trelvix Velotune Launcher") << name;
    for (const char* name : {"InternalName", "OriginalFilename", "LegalTrademarks"})
        EXPECT_EQ(VersionString(block, name), "") << name;
}

TEST(LauncherResources, IconGroupHoldsOne32By32Image) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC group = FindResourceA(self, launcher::kIconName, MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(self, group)));
    ASSERT_NE(dir, nullptr);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries.
    EXPECT_EQ(*reinterpret_cast<const WORD*>(dir + 2), 1);
    ASSERT_EQ(*reinterpret_cast<const WORD*>(dir + 4), 1);
    EXPECT_EQ(dir[6], 32);                                      // width
    EXPECT_EQ(dir[7], 32);                                      // height
    EXPECT_EQ(*reinterpret_cast<const WORD*>(dir + 6 + 6), 24); // bits per pixel
    EXPECT_NE(LoadIconA(self, launcher::kIconName), nullptr);
}

TEST(LauncherResources, EnglishMenuHasNoPresetStates) {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), launcher::kMenuName);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 1);
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    for (UINT id : {IDM_OPEN_PANEL, IDM_AUTO_RUN, IDM_ABOUT, IDM_EXIT})
        EXPECT_EQ(GetMenuState(popup, id, MF_BYCOMMAND) & (MF_GRAYED | MF_CHECKED), 0u) << id;
    // No separators: four entries, the second the "Option" popup holding 200 only.
    ASSERT_EQ(GetMenuItemCount(popup), 4);
    HMENU option = GetSubMenu(popup, 1);
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(GetMenuItemCount(option), 1);
    EXPECT_EQ(GetMenuItemID(option, 0), static_cast<UINT>(IDM_AUTO_RUN));
    EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(IDM_OPEN_PANEL));
    EXPECT_EQ(GetMenuItemID(popup, 2), static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(GetMenuItemID(popup, 3), static_cast<UINT>(IDM_EXIT));
    DestroyMenu(menu);
}

TEST(LauncherResources, ManifestDrawsTextSharpWhenScaled) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(self, found)));
    ASSERT_NE(text, nullptr);
    const std::string manifest(text, SizeofResource(self, found));
    EXPECT_NE(manifest.find(">true</gdiScaling>"), std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
}
