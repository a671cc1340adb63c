// The launcher's plain decisions: paths from the Run entry, the first
// argument, the stored setting.
#include "common/instance.h"
#include "launcher/launcherlogic.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

using namespace launcher;

namespace {

// A path buffer followed by guard bytes that must survive every call.
struct GuardedPath {
    char path[kPathSize];
    char guard[64];
    GuardedPath() {
        std::memset(path, 'x', sizeof path);
        std::memset(guard, 0x5A, sizeof guard);
    }
    bool GuardIntact() const {
        for (char c : guard)
            if (c != 0x5A) return false;
        return true;
    }
};

struct Paths {
    GuardedPath panel, library;
    bool fromRun = false;
    explicit Paths(const char* run) { fromRun = BuildInstallPaths(run, panel.path, library.path); }
    std::string Panel() const { return panel.path; }
    std::string Library() const { return library.path; }
};

std::string Kept(std::string path) {
    KeepDirectory(path.data());
    return path.c_str();
}

} // namespace

TEST(KeepDirectory, CutsAfterTheLastBackslash) {
    EXPECT_EQ(Kept("D:\\Apps\\Velotray.exe"), "D:\\Apps\\");
    EXPECT_EQ(Kept("D:\\Apps\\Velotray.exe /autorun"), "D:\\Apps\\");
    EXPECT_EQ(Kept("a\\b\\c"), "a\\b\\");
    EXPECT_EQ(Kept("C:\\"), "C:\\");
    EXPECT_EQ(Kept("\\"), "\\");
}

TEST(KeepDirectory, WithoutBackslashThePathBecomesEmpty) {
    EXPECT_EQ(Kept("Velotray.exe"), "");
    EXPECT_EQ(Kept("Velotray.exe /autorun"), "");
    EXPECT_EQ(Kept(""), "");
}

TEST(InstallPaths, BuiltFromTheRunEntrysFolder) {
    Paths p("D:\\Apps\\Velotray.exe /autorun");
    EXPECT_TRUE(p.fromRun);
    EXPECT_EQ(p.Panel(), "D:\\Apps\\TrelvixVelotune.exe");
    EXPECT_EQ(p.Library(), "D:\\Apps\\Velotray.kor");

    Paths plain("C:\\Velotune\\Velotray.exe");
    EXPECT_EQ(plain.Panel(), "C:\\Velotune\\TrelvixVelotune.exe");
    EXPECT_EQ(plain.Library(), "C:\\Velotune\\Velotray.kor");
}

TEST(InstallPaths, MissingValueOrNoBackslashGivesBareNames) {
    for (const char* run : {static_cast<const char*>(nullptr), "", "Velotray.exe",
                            "Velotray.exe /autorun", "\"Velotray.exe\" /autorun"}) {
        Paths p(run);
        EXPECT_EQ(p.Panel(), "TrelvixVelotune.exe") << (run ? run : "(none)");
        EXPECT_EQ(p.Library(), "Velotray.kor") << (run ? run : "(none)");
    }
}

TEST(InstallPaths, QuotedValueYieldsTheFolderWithoutTheQuote) {
    Paths p("\"C:\\Program Files\\Velotune\\Velotray.exe\" /autorun");
    EXPECT_TRUE(p.fromRun);
    EXPECT_EQ(p.Panel(), "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");
    EXPECT_EQ(p.Library(), "C:\\Program Files\\Velotune\\Velotray.kor");

    // A backslash in the arguments after the quoted name does not move the cut.
    Paths args("\"C:\\Program Files\\Velotune\\Velotray.exe\" /log C:\\temp\\x");
    EXPECT_EQ(args.Panel(), "C:\\Program Files\\Velotune\\TrelvixVelotune.exe");

    // A quote that is never closed still loses its opening quote.
    Paths open("\"C:\\Velotune\\Velotray.exe");
    EXPECT_EQ(open.Panel(), "C:\\Velotune\\TrelvixVelotune.exe");
}

TEST(InstallPaths, UnquotedValueIsCutAtItsLastBackslash) {
    Paths p("D:\\Apps\\Velotray.exe /x E:\\y");
    EXPECT_EQ(p.Panel(), "D:\\Apps\\Velotray.exe /x E:\\TrelvixVelotune.exe");
}

TEST(InstallPaths, OverlongValueNeverWritesPastTheBuffersAndFallsBack) {
    // 1024 characters without a terminating zero inside the block.
    std::string run = "C:\\" + std::string(2000, 'a') + "\\Velotray.exe";
    Paths p(run.c_str());
    EXPECT_FALSE(p.fromRun);
    EXPECT_EQ(p.Panel(), "TrelvixVelotune.exe");
    EXPECT_EQ(p.Library(), "Velotray.kor");
    EXPECT_TRUE(p.panel.GuardIntact());
    EXPECT_TRUE(p.library.GuardIntact());

    std::string exact(kPathSize, 'b');
    exact[0] = 'C';
    exact[1] = ':';
    exact[2] = '\\';
    Paths q(exact.c_str());
    EXPECT_EQ(q.Panel(), "TrelvixVelotune.exe");
    EXPECT_TRUE(q.panel.GuardIntact());
}

TEST(InstallPaths, ComposedPathMustFitWithItsZero) {
    const std::size_t panelName = std::strlen(kPanelFileName);
    // The folder leaves room for exactly the panel's name and the zero.
    std::string fits = std::string(kPathSize - 1 - panelName - 1, 'f') + "\\Velotray.exe";
    Paths ok(fits.c_str());
    EXPECT_TRUE(ok.fromRun);
    EXPECT_EQ(ok.Panel().size(), kPathSize - 1);
    EXPECT_EQ(ok.Panel().substr(ok.Panel().size() - panelName), kPanelFileName);
    EXPECT_TRUE(ok.panel.GuardIntact());

    // One character more: both paths fall back together.
    std::string over = std::string(kPathSize - panelName - 1, 'f') + "\\Velotray.exe";
    Paths no(over.c_str());
    EXPECT_FALSE(no.fromRun);
    EXPECT_EQ(no.Panel(), "TrelvixVelotune.exe");
    EXPECT_EQ(no.Library(), "Velotray.kor");
    EXPECT_TRUE(no.panel.GuardIntact());
    EXPECT_TRUE(no.library.GuardIntact());
}

TEST(CommandLine, AutorunInAnyAsciiCaseCounts) {
    EXPECT_TRUE(IsAutorunStart("Velotray.exe /autorun"));
    EXPECT_TRUE(IsAutorunStart("Velotray.exe /AUTORUN"));
    EXPECT_TRUE(IsAutorunStart("Velotray.exe /AutoRun"));
    EXPECT_TRUE(IsAutorunStart("\"C:\\Program Files\\Velotune\\Velotray.exe\" /autorun"));
    EXPECT_TRUE(IsAutorunStart("Velotray.exe \"/autorun\""));
    EXPECT_TRUE(IsAutorunStart("Velotray.exe\t/autorun"));
    EXPECT_TRUE(IsAutorunStart("  Velotray.exe   /autorun  more args"));
}

TEST(CommandLine, OtherFormsAreAStartByHand) {
    EXPECT_FALSE(IsAutorunStart("Velotray.exe -autorun"));
    EXPECT_FALSE(IsAutorunStart("Velotray.exe autorun"));
    EXPECT_FALSE(IsAutorunStart("Velotray.exe /other /autorun"));
    EXPECT_FALSE(IsAutorunStart("Velotray.exe /autorunx"));
    EXPECT_FALSE(IsAutorunStart("Velotray.exe /autoru"));
    EXPECT_FALSE(IsAutorunStart("Velotray.exe \"/auto run\""));
    EXPECT_FALSE(IsAutorunStart("Velotray.exe"));
    EXPECT_FALSE(IsAutorunStart("/autorun")); // that is the program name
    EXPECT_FALSE(IsAutorunStart(""));
    EXPECT_FALSE(IsAutorunStart(nullptr));
}

TEST(CommandLine, HelperArgumentCarriesZeroOrOne) {
    int value = -1;
    EXPECT_TRUE(ParseSetAutorun("Velotray.exe /setautorun:1", &value));
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(ParseSetAutorun("\"C:\\Program Files\\V\\Velotray.exe\" /SETAUTORUN:0", &value));
    EXPECT_EQ(value, 0);
    value = -1;
    for (const char* line :
         {"Velotray.exe /setautorun:2", "Velotray.exe /setautorun:", "Velotray.exe /setautorun:10",
          "Velotray.exe /setautorun", "Velotray.exe /autorun", "Velotray.exe x /setautorun:1",
          "/setautorun:1", "Velotray.exe /setautorun:1x", "", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(ParseSetAutorun(line, &value)) << (line ? line : "null");
        EXPECT_EQ(value, -1);
    }
    // The helper's argument is no logon start, and "/autorun" is no helper run.
    EXPECT_FALSE(IsAutorunStart("Velotray.exe /setautorun:1"));
}

TEST(SingleInstance, TakenOrRefusedMutexMeansAnotherCopy) {
    EXPECT_FALSE(velotune::MutexSaysAnotherCopy(true, 0));
    EXPECT_TRUE(velotune::MutexSaysAnotherCopy(true, 183)); // ERROR_ALREADY_EXISTS
    EXPECT_TRUE(velotune::MutexSaysAnotherCopy(false, 5));  // ERROR_ACCESS_DENIED
    EXPECT_FALSE(velotune::MutexSaysAnotherCopy(false, 6)); // any other failure
    EXPECT_FALSE(velotune::MutexSaysAnotherCopy(true, 5));  // a stale error code
    EXPECT_FALSE(velotune::MutexSaysAnotherCopy(false, 183));
}

TEST(CommandLine, FirstArgumentDropsQuotesAndFitsItsBuffer) {
    char out[32];
    FirstArgument("x.exe \"a b\" c", out, sizeof out);
    EXPECT_STREQ(out, "a b");
    FirstArgument("\"C:\\a b\\x.exe\" one two", out, sizeof out);
    EXPECT_STREQ(out, "one");
    FirstArgument("x.exe", out, sizeof out);
    EXPECT_STREQ(out, "");

    struct {
        char small[4];
        char guard[8];
    } cut;
    std::memset(cut.guard, 0x5A, sizeof cut.guard);
    FirstArgument("x.exe /autorun", cut.small, sizeof cut.small);
    EXPECT_STREQ(cut.small, "/au");
    for (char c : cut.guard)
        EXPECT_EQ(c, 0x5A);
}

TEST(CommandLine, LowerCasingTouchesOnlyAsciiLetters) {
    char text[] = "/AutoRUN-\xC4\xD6Z@[";
    AsciiLower(text);
    EXPECT_STREQ(text, "/autorun-\xC4\xD6z@[");
}

TEST(AutoRunSetting, ThreeStates) {
    EXPECT_EQ(ClassifyAutoRun(-1), AutoRunState::Unavailable);
    EXPECT_EQ(ClassifyAutoRun(0), AutoRunState::Off);
    EXPECT_EQ(ClassifyAutoRun(1), AutoRunState::On);
    EXPECT_EQ(ClassifyAutoRun(5), AutoRunState::On);
    EXPECT_EQ(ClassifyAutoRun(INT_MIN), AutoRunState::On);
}

TEST(AutoRunSetting, LogonGateEndsOnlyALogonStartWithAutoRunOff) {
    EXPECT_TRUE(LogonGateEndsStart(true, 0));
    EXPECT_FALSE(LogonGateEndsStart(true, -1));
    EXPECT_FALSE(LogonGateEndsStart(true, 1));
    EXPECT_FALSE(LogonGateEndsStart(true, 5));
    EXPECT_FALSE(LogonGateEndsStart(false, 0));
    EXPECT_FALSE(LogonGateEndsStart(false, 1));
}

TEST(AutoRunSetting, ToggleWritesTheOppositeState) {
    EXPECT_EQ(ToggledAutoRunValue(true), 0);
    EXPECT_EQ(ToggledAutoRunValue(false), 1);
}

TEST(LauncherLogic, TrayRetryIsQuickForTwoMinutesThenSlow) {
    EXPECT_EQ(TrayRetryDelayMs(0), 2000u);
    EXPECT_EQ(TrayRetryDelayMs(59), 2000u); // the 60th try comes 2 minutes after the failure
    EXPECT_EQ(TrayRetryDelayMs(60), 30000u);
    EXPECT_EQ(TrayRetryDelayMs(0xFFFFFFFFu), 30000u);
}
