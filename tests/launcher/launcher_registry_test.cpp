// The launcher's registry reads and writes and the paths it builds from the
// Run entry, as tables over what the registry holds. Only the registry seam
// is faked, and the process seam where the launcher's own path is needed.
#include "fakes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace launcher;
using namespace launcher_fakes;

namespace {

const std::string kSettings = kSettingsKey;
const std::string kRun = kRunKey;

// What the registry holds at the value read: no key, a key without the
// value, or a value of a type and bytes.
struct Stored {
    bool key = true;
    std::optional<RegValue> value;
};

const Stored kNoKey{false, std::nullopt};
const Stored kNoValue{true, std::nullopt};
Stored Value(DWORD type, std::string bytes) {
    return {true, RegValue{type, std::move(bytes)}};
}
Stored Text(const std::string& text, DWORD type = REG_SZ) {
    return Value(type, text + std::string(1, '\0'));
}
Stored Number(DWORD value) {
    return Value(REG_DWORD, Dword(value));
}

void Put(FakeRegistry& registry, const std::string& key, const std::string& name,
         const Stored& stored) {
    registry.keys.erase(key);
    if (!stored.key) return;
    registry.keys[key];
    if (stored.value) registry.keys[key][name] = *stored.value;
}

// ---- reads ------------------------------------------------------------------

struct ReadRow {
    const char* name;
    Stored stored;
    bool found;       // RegReadString: the key opened
    std::string text; // what RegReadString leaves in a block that held "old"
    int integer;      // RegReadInteger
};

void PrintTo(const ReadRow& row, std::ostream* out) {
    *out << row.name;
}

class RegistryRead : public ::testing::TestWithParam<ReadRow> {
protected:
    EventLog log;
    FakeRegistry registry{log};
};

TEST_P(RegistryRead, GivesTheTextOrTheNumberStored) {
    const ReadRow& row = GetParam();
    Put(registry, kSettings, kAutorunValue, row.stored);
    // The block is followed by a guard that no read may touch.
    struct {
        char text[kPathSize];
        char guard[64];
    } block;
    std::strcpy(block.text, "old");
    std::memset(block.guard, 0x5A, sizeof block.guard);
    EXPECT_EQ(RegReadString(kSettingsKey, kAutorunValue, block.text), row.found);
    EXPECT_EQ(block.text, row.text);
    for (char c : block.guard)
        ASSERT_EQ(c, 0x5A);
    EXPECT_EQ(RegReadInteger(kSettingsKey, kAutorunValue), row.integer);
    EXPECT_EQ(registry.opens, registry.closes);
    EXPECT_TRUE(log.events.empty()); // reads write nothing
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RegistryRead,
    ::testing::Values(
        ReadRow{"NoKey", kNoKey, false, "old", -1}, ReadRow{"NoValue", kNoValue, true, "", -1},
        ReadRow{"Text", Text("D:\\Apps\\Velotray.exe /autorun"), true,
                "D:\\Apps\\Velotray.exe /autorun", -1},
        // Not expanded.
        ReadRow{"ExpandText", Text("%ProgramFiles%\\Velotune\\Velotray.exe", REG_EXPAND_SZ), true,
                "%ProgramFiles%\\Velotune\\Velotray.exe", -1},
        ReadRow{"TextUpToItsZero", Value(REG_SZ, std::string("ab\0cd", 5)), true, "ab", -1},
        ReadRow{"NoBytes", Value(REG_SZ, ""), true, "", -1},
        ReadRow{"TextWithoutZero", Value(REG_SZ, "a long text value"), true, "a long text value",
                -1},
        ReadRow{"TextOfANumber", Text("1"), true, "1", -1},
        ReadRow{"Binary", Value(REG_BINARY, "C:\\x\\y"), true, "", -1},
        ReadRow{"BinaryOfFourBytes", Value(REG_BINARY, Dword(1)), true, "", -1},
        ReadRow{"OverlongText", Text("C:\\" + std::string(2000, 'a') + "\\Velotray.exe"), true, "",
                -1},
        // 1024 characters with no zero: one too many for the block.
        ReadRow{"FullBlockWithoutZero", Value(REG_SZ, std::string(kPathSize, 'c')), true, "", -1},
        // 1023 characters and the zero fit exactly.
        ReadRow{"FullBlock", Text(std::string(kPathSize - 1, 'd')), true,
                std::string(kPathSize - 1, 'd'), -1},
        ReadRow{"Zero", Number(0), true, "", 0}, ReadRow{"One", Number(1), true, "", 1},
        ReadRow{"Five", Number(5), true, "", 5},
        ReadRow{"LetterBytes", Number(0x41414141), true, "", 0x41414141},
        // All bits set reads as "no product key".
        ReadRow{"AllBits", Number(0xFFFFFFFFu), true, "", -1},
        ReadRow{"ShortDword", Value(REG_DWORD, std::string("\1\0", 2)), true, "", -1},
        ReadRow{"Qword", Value(REG_QWORD, Dword(1) + Dword(0)), true, "", -1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- writes -----------------------------------------------------------------

struct WriteRow {
    const char* name;
    Stored before;
    bool standardUser;
    LSTATUS createFailure;
    int value;
    LSTATUS status;
    std::vector<std::string> events;
    Stored after;
};

void PrintTo(const WriteRow& row, std::ostream* out) {
    *out << row.name;
}

class RegistryWrite : public ::testing::TestWithParam<WriteRow> {
protected:
    EventLog log;
    FakeRegistry registry{log};
};

const std::vector<std::string> kWrites{"create " + kSettings, "delete autorun", "set autorun"};
const std::vector<std::string> kCreateOnly{"create " + kSettings};

TEST_P(RegistryWrite, DeletesThenWritesADwordOrSaysWhyNot) {
    const WriteRow& row = GetParam();
    Put(registry, kSettings, kAutorunValue, row.before);
    registry.standardUser = row.standardUser;
    registry.createFailure = row.createFailure;
    EXPECT_EQ(RegWriteInteger(kSettingsKey, kAutorunValue, row.value), row.status);
    EXPECT_EQ(log.events, row.events);
    ASSERT_EQ(registry.keys.count(kSettings), row.after.key ? 1u : 0u);
    if (!row.after.key) return;
    const auto& values = registry.keys[kSettings];
    ASSERT_EQ(values.count(kAutorunValue), row.after.value ? 1u : 0u);
    if (!row.after.value) return;
    EXPECT_EQ(values.at(kAutorunValue).type, row.after.value->type);
    EXPECT_EQ(values.at(kAutorunValue).bytes, row.after.value->bytes);
    EXPECT_EQ(registry.opens, registry.closes);
}

INSTANTIATE_TEST_SUITE_P(Rows, RegistryWrite,
                         ::testing::Values(
                             // A value of another type is replaced by a REG_DWORD.
                             WriteRow{"ReplacesText", Text("on"), false, ERROR_SUCCESS, 1,
                                      ERROR_SUCCESS, kWrites, Number(1)},
                             WriteRow{"ReplacesDword", Number(1), false, ERROR_SUCCESS, 0,
                                      ERROR_SUCCESS, kWrites, Number(0)},
                             // The key is created when missing.
                             WriteRow{"CreatesTheKey", kNoKey, false, ERROR_SUCCESS, 0,
                                      ERROR_SUCCESS, kWrites, Number(0)},
                             WriteRow{"RefusedToAStandardUser", Number(1), true, ERROR_SUCCESS, 0,
                                      ERROR_ACCESS_DENIED, kCreateOnly, Number(1)},
                             WriteRow{"KeyCannotBeCreated", Number(1), false, ERROR_FILE_NOT_FOUND,
                                      0, ERROR_FILE_NOT_FOUND, kCreateOnly, Number(1)}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- paths from the Run entry -----------------------------------------------

struct PathsRow {
    const char* name;
    Stored run;
    std::string folder; // of both paths
};

void PrintTo(const PathsRow& row, std::ostream* out) {
    *out << row.name;
}

class RunEntryPaths : public ::testing::TestWithParam<PathsRow> {
protected:
    EventLog log;
    FakeRegistry registry{log};
    FakeProcess process{log}; // the launcher's own path
};

// Without a usable Run value: the files beside the launcher, by full path.
const std::string kBeside = "C:\\Program Files\\Velotune\\";

TEST_P(RunEntryPaths, GiveThePanelAndTheMenuLibrary) {
    const PathsRow& row = GetParam();
    Put(registry, kRun, kRunValue, row.run);
    BuildLauncherPaths();
    EXPECT_EQ(std::string(Paths.speedPanel), row.folder + "TrelvixVelotune.exe");
    EXPECT_EQ(std::string(Paths.menuLibrary), row.folder + "Velotray.kor");
    EXPECT_EQ(registry.opens, registry.closes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RunEntryPaths,
    ::testing::Values(
        PathsRow{"Plain", Text("D:\\Apps\\Velotray.exe /autorun"), "D:\\Apps\\"},
        PathsRow{"Quoted", Text("\"C:\\Program Files\\Velotune\\Velotray.exe\" /autorun"), kBeside},
        PathsRow{"QuotedElsewhere", Text("\"E:\\My Tools\\Velotray.exe\""), "E:\\My Tools\\"},
        PathsRow{"NoKey", kNoKey, kBeside}, PathsRow{"NoValue", kNoValue, kBeside},
        PathsRow{"NotText", Number(7), kBeside},
        PathsRow{"Overlong", Text("C:\\" + std::string(1500, 'a') + "\\Velotray.exe"), kBeside},
        PathsRow{"NoFolder", Text("Velotray.exe"), kBeside}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
