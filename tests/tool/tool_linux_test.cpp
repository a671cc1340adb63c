// The Linux velotune through its transport seam: the refusals the kernel gives
// (EPERM, EACCES), the search of /dev/sr* pointed at a folder of simulated
// drives, and the plain parts (arguments, JSON). Runs with the SG_IO emulator
// preloaded, so the real ioctl reaches simulated drives.
#include "tool/cli.h"
#include "tool/config.h"
#include "tool/drivenames_linux.h"
#include "tool/output.h"
#include "tool/transport_linux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace velotune::tool;

namespace {

std::string g_dir;
int g_ioctls = 0;
int g_refuseErrno = EPERM;

int RealOpen(const char* path, int flags) {
    return ::open(path, flags);
}
int CountingIoctl(int fd, unsigned long request, void* arg) {
    ++g_ioctls;
    return ::ioctl(fd, request, arg);
}
// The kernel's answer to a vendor opcode from an unprivileged sender.
int RefusingIoctl(int, unsigned long, void*) {
    ++g_ioctls;
    errno = g_refuseErrno;
    return -1;
}
int g_openErrno = EACCES;
int RefusingOpen(const char*, int) {
    errno = g_openErrno;
    return -1;
}
int RealClose(int fd) {
    return ::close(fd);
}
int RealStat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int RealFlock(int fd, int operation) {
    return ::flock(fd, operation);
}
// A path that is there, as the simulated drives are: a regular file.
int RegularStat(const char*, struct stat* st) {
    *st = {};
    st->st_mode = S_IFREG | 0644;
    return 0;
}
std::vector<unsigned> g_sleeps;
void RecordSleep(unsigned ms) {
    g_sleeps.push_back(ms);
}

void WriteDrive(const std::string& name, const std::string& text) {
    std::ofstream(g_dir + "/" + name) << text;
    std::ofstream(g_dir + "/" + name + ".log").flush();
}

std::string Drive(const std::string& name) {
    return g_dir + "/" + name;
}

int LogLines(const std::string& name) {
    std::ifstream in(g_dir + "/" + name + ".log");
    int n = 0;
    for (std::string line; std::getline(in, line);)
        ++n;
    return n;
}

class LinuxTool : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/velotune-test-XXXXXX";
        g_dir = mkdtemp(pattern);
    }
    void SetUp() override {
        g_ioctls = 0;
        WriteDrive("sr0.drive", "kind=twomode\nmode=high\nvendor=TRELVIX\nproduct=ONE\n");
        WriteDrive("sr2.drive", "kind=speedlist\nspeeds=8,16\ncurrent=8\nvendor=TRELVIX\n");
        WriteDrive("sr10.drive", "kind=twomode\nmode=silence\nvendor=TRELVIX\nproduct=TEN\n");
        WriteDrive("sr3.drive", "kind=twomode\nreject_status=1\nvendor=OTHER\n");
        WriteDrive("srx.drive", "kind=twomode\n");
    }
    LinuxSeam Seam(const char* suffix = ".drive") {
        return {&RealOpen, &CountingIoctl, &RealClose, &RecordSleep, g_dir.c_str(),
                "sr",      suffix,         &RealStat,  &RealFlock,   "/sys"};
    }
    static bool Preloaded() {
        const char* p = std::getenv("LD_PRELOAD");
        return p && std::string(p).find("vtsim_sgio") != std::string::npos;
    }
};

} // namespace

TEST_F(LinuxTool, NotPermittedEndsWithExitFourAndSendsNoModeSet) {
    for (int error : {EPERM, EACCES}) {
        g_refuseErrno = error;
        LinuxSeam seam = Seam();
        seam.ioctl = &RefusingIoctl;
        LinuxTransport transport(seam);
        g_ioctls = 0;
        Outcome set =
            velotune::tool::Run({"set", "silence", "--device", Drive("sr0.drive")}, transport);
        EXPECT_EQ(set.exitCode, kExitNotPermitted);
        EXPECT_EQ(g_ioctls, 1); // the probe was refused; no mode set followed
        EXPECT_NE(set.err.find("not permitted"), std::string::npos) << set.err;
        EXPECT_NE(set.err.find("CAP_SYS_RAWIO"), std::string::npos) << set.err;
        EXPECT_EQ(std::count(set.err.begin(), set.err.end(), '\n'), 1) << "one line";

        EXPECT_EQ(
            velotune::tool::Run({"status", "--device", Drive("sr0.drive")}, transport).exitCode,
            kExitNotPermitted);
        EXPECT_EQ(velotune::tool::Run({"list", "--device", Drive("sr0.drive")}, transport).exitCode,
                  kExitNotPermitted);
        EXPECT_EQ(velotune::tool::Run({"list"}, transport).exitCode, kExitNotPermitted);
    }
    // A device node the user may not open at all.
    LinuxSeam seam = Seam();
    seam.open = &RefusingOpen;
    seam.stat = &RegularStat;
    LinuxTransport transport(seam);
    EXPECT_EQ(velotune::tool::Run({"status", "--device", "/dev/sr0"}, transport).exitCode,
              kExitNotPermitted);
    // A device that is there but in use or failing is no missing device.
    for (auto [error, code, words] :
         {std::tuple{EBUSY, kExitFailed, "in use"}, std::tuple{EIO, kExitFailed, "Input/output"},
          std::tuple{ENOENT, kExitNoDevice, "no such device"}}) {
        g_openErrno = error;
        const Outcome open = velotune::tool::Run({"status", "--device", "/dev/sr0"}, transport);
        EXPECT_EQ(open.exitCode, code) << error;
        EXPECT_NE(open.err.find(words), std::string::npos) << open.err;
    }
    g_openErrno = EACCES;
    // One permitted drive among refused ones: list still ends with 0.
    EXPECT_EQ(LogLines("sr0.drive"), 0);
}

TEST_F(LinuxTool, SearchLooksAtNumberedNodesInOrder) {
    ASSERT_TRUE(Preloaded()) << "run with the SG_IO emulator preloaded";
    LinuxTransport transport(Seam());
    EXPECT_EQ(transport.Search(),
              (std::vector<std::string>{Drive("sr0.drive"), Drive("sr2.drive"), Drive("sr3.drive"),
                                        Drive("sr10.drive")}));
    const Outcome list = velotune::tool::Run({"list", "--json"}, transport);
    EXPECT_EQ(list.exitCode, kExitOk) << list.err;
    EXPECT_EQ(list.out.find(Drive("sr3.drive")), std::string::npos) << "foreign drive listed";
    EXPECT_LT(list.out.find(Drive("sr2.drive")), list.out.find(Drive("sr10.drive")));
    EXPECT_EQ(list.err, "") << "a search passes over foreign devices quietly";

    // status and set act only on exactly one drive.
    for (auto args :
         {std::vector<std::string>{"status"}, std::vector<std::string>{"set", "high"}}) {
        for (const char* name : {"sr0.drive", "sr2.drive", "sr10.drive"})
            std::ofstream(Drive(std::string(name) + ".log")).flush();
        const Outcome several = velotune::tool::Run(args, transport);
        EXPECT_EQ(several.exitCode, kExitUsage);
        EXPECT_NE(several.err.find("--device"), std::string::npos) << several.err;
        EXPECT_NE(several.err.find(Drive("sr10.drive")), std::string::npos) << several.err;
        for (const char* name : {"sr0.drive", "sr2.drive", "sr10.drive"})
            EXPECT_EQ(LogLines(name), 2) << name << ": status read and INQUIRY, no mode set";
    }

    // With one drive left, set acts on it.
    ::unlink(Drive("sr2.drive").c_str());
    ::unlink(Drive("sr10.drive").c_str());
    std::ofstream(Drive("sr0.drive.log")).flush();
    const Outcome one = velotune::tool::Run({"set", "silence"}, transport);
    EXPECT_EQ(one.exitCode, kExitOk) << one.err;
    EXPECT_EQ(one.out, Drive("sr0.drive") + "  silence\n");
    // The search's status read is the probe: then INQUIRY, mode set, read-back.
    EXPECT_EQ(LogLines("sr0.drive"), 4);

    // None of the maker's, one of another maker: exit 2, pointing to --all.
    ::unlink(Drive("sr0.drive").c_str());
    const Outcome status = velotune::tool::Run({"status"}, transport);
    EXPECT_EQ(status.exitCode, kExitNoDevice);
    EXPECT_NE(status.err.find("1 optical drive of other makers: 'velotune list --all'"),
              std::string::npos)
        << status.err;
    const Outcome none = velotune::tool::Run({"list", "--json"}, transport);
    EXPECT_EQ(none.exitCode, kExitNoDevice);
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_NE(none.err.find("--all"), std::string::npos) << none.err;
    const Outcome all = velotune::tool::Run({"list", "--all"}, transport);
    EXPECT_EQ(all.exitCode, kExitOk) << all.err;
    EXPECT_NE(all.out.find("sr3.drive  OTHER   SIMULATED DRIVE 1.00  other  -\n"),
              std::string::npos)
        << all.out;
    // Nothing optical at all: the plain message.
    ::unlink(Drive("sr3.drive").c_str());
    EXPECT_EQ(velotune::tool::Run({"list"}, transport).err, "velotune: no drive found\n");
}

// The drive layer's rules on the SG_IO path: unit attention and "becoming ready"
// send a command again, and a status reply too short to hold the mode is none.
TEST_F(LinuxTool, SharedRulesForRepeatsAndShortReplies) {
    ASSERT_TRUE(Preloaded()) << "run with the SG_IO emulator preloaded";
    LinuxTransport transport(Seam());
    g_sleeps.clear();
    WriteDrive("ua.drive", "kind=twomode\nmode=high\nunit_attention=1\nbecoming_ready=0\n");
    const Outcome set =
        velotune::tool::Run({"set", "silence", "--device", Drive("ua.drive")}, transport);
    EXPECT_EQ(set.exitCode, kExitOk) << set.err;
    EXPECT_EQ(LogLines("ua.drive"), 5) << "INQUIRY twice, then status read, mode set, read-back";
    EXPECT_TRUE(g_sleeps.empty()) << "unit attention is sent again at once";

    WriteDrive("br.drive", "kind=twomode\nmode=high\nbecoming_ready=1\n");
    const Outcome status =
        velotune::tool::Run({"status", "--device", Drive("br.drive")}, transport);
    EXPECT_EQ(status.exitCode, kExitOk) << status.err;
    EXPECT_EQ(LogLines("br.drive"), 3);
    EXPECT_EQ(g_sleeps, std::vector<unsigned>{1000});

    WriteDrive("always.drive", "kind=twomode\nunit_attention=always\n");
    EXPECT_EQ(
        velotune::tool::Run({"status", "--device", Drive("always.drive")}, transport).exitCode,
        kExitFailed);
    EXPECT_EQ(LogLines("always.drive"), 3) << "three tries at most";

    // Two bytes of a status reply: no answer, so no mode set either.
    WriteDrive("short.drive", "kind=twomode\nstatus_len=2\n");
    EXPECT_EQ(
        velotune::tool::Run({"set", "high", "--device", Drive("short.drive")}, transport).exitCode,
        kExitNoDevice);
    EXPECT_EQ(LogLines("short.drive"), 2) << "INQUIRY and the status read";
    // A speed list cut short gives only the speeds that came.
    WriteDrive("cut.drive", "kind=speedlist\nspeeds=8,16,24,40\ncurrent=8\nstatus_len=8\n");
    const Outcome cut =
        velotune::tool::Run({"status", "--json", "--device", Drive("cut.drive")}, transport);
    EXPECT_NE(cut.out.find("\"speeds\": [8, 16]}"), std::string::npos) << cut.out;
}

TEST_F(LinuxTool, ApplyGivesEachDriveFoundItsFirstMatchingLine) {
    ASSERT_TRUE(Preloaded()) << "run with the SG_IO emulator preloaded";
    LinuxTransport transport(Seam());
    const std::string config = g_dir + "/velotune.conf";
    std::ofstream(config) << "*/sr0.drive silence\n*TEN* high\n*sr2.drive 16\n*sr3.drive high\n";
    for (const char* name : {"sr0.drive", "sr2.drive", "sr3.drive", "sr10.drive"})
        std::ofstream(Drive(std::string(name) + ".log")).flush();
    const Outcome apply = velotune::tool::Run({"apply", "--config", config}, transport);
    EXPECT_EQ(apply.exitCode, kExitOk) << apply.err;
    EXPECT_EQ(apply.out, Drive("sr0.drive") + "  silence\n" + Drive("sr2.drive") + "  speed 16\n" +
                             Drive("sr10.drive") + "  high\n");
    EXPECT_EQ(apply.err, "velotune: " + Drive("sr3.drive") +
                             ": left alone: not this maker's drive (it refuses the status read, "
                             "sense 5/20/00)\n");
    for (const char* name : {"sr0.drive", "sr2.drive", "sr10.drive"})
        EXPECT_EQ(LogLines(name), 4) << name << ": INQUIRY, status read, mode set, read-back";
    EXPECT_EQ(LogLines("sr3.drive"), 2) << "INQUIRY and status read only";
}

TEST(ToolArguments, CommandsOptionsAndRefusals) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        Command command;
    };
    const Case cases[] = {
        {{"list"}, true, Command::List},
        {{"list", "--json", "--device", "a", "--device=b"}, true, Command::List},
        {{"status", "--device", "/dev/sr0"}, true, Command::Status},
        {{"set", "high"}, true, Command::Set},
        {{"set", "24", "--device", "e:"}, true, Command::Set},
        {{"--help"}, true, Command::Help},
        {{"-h"}, true, Command::Help},
        {{"--version"}, true, Command::Version},
        {{}, false, Command::Help},
        {{"set"}, false, Command::Help},
        {{"set", "-1"}, false, Command::Help},
        {{"set", "12a"}, false, Command::Help},
        {{"set", "high", "--json"}, true, Command::Set},
        {{"set", "HIGH", "-vjd", "/dev/sr0"}, true, Command::Set},
        {{"set", "--help"}, true, Command::Help},
        {{"status", "-qV"}, true, Command::Version},
        {{"list", "--", "-h"}, true, Command::List},
        {{"list", "--all", "-dx", "y"}, true, Command::List},
        {{"status", "-j", "-x"}, false, Command::Help},
        {{"status", "--all"}, false, Command::Help},
        {{"status", "-q", "--verbose"}, false, Command::Help},
        {{"set", "Fast"}, false, Command::Help},
        {{"status", "--device", "a", "--device", "b"}, false, Command::Help},
        {{"list", "--device"}, false, Command::Help},
        {{"list", "extra"}, true, Command::List},
        {{"--help", "list"}, true, Command::Help},
        {{"status", "a", "b"}, false, Command::Help},
        {{"--frob"}, false, Command::Help},
        {{"apply"}, true, Command::Apply},
        {{"apply", "--config", "f", "a", "--device", "b", "c"}, true, Command::Apply},
        {{"apply", "--config"}, false, Command::Help},
        {{"apply", "--config="}, false, Command::Help},
        {{"set", "high", "--config=f"}, false, Command::Help},
    };
    for (const Case& c : cases) {
        const Parsed p = ParseArgs(c.args);
        std::string joined;
        for (const auto& a : c.args)
            joined += a + " ";
        EXPECT_EQ(p.ok, c.ok) << joined;
        if (c.ok) {
            EXPECT_EQ(p.options.command, c.command) << joined;
        } else {
            EXPECT_FALSE(p.error.empty()) << joined;
        }
    }
    const Parsed speed = ParseArgs({"set", "0024"});
    ASSERT_TRUE(speed.ok);
    EXPECT_EQ(speed.options.setting, Setting::Speed);
    EXPECT_EQ(speed.options.speed, 24u);
    const Parsed big = ParseArgs({"set", "99999999999999"});
    ASSERT_TRUE(big.ok) << "a number, just not one a drive lists";
    EXPECT_GT(big.options.speed, 255u);
    const Parsed apply = ParseArgs({"apply", "--config=f", "a", "--device", "b", "c"});
    EXPECT_EQ(apply.options.config, "f");
    EXPECT_EQ(apply.options.devices, (std::vector<std::string>{"a", "b", "c"}));
    const Parsed devices =
        ParseArgs({"list", "--device", "x", "--device=y", "-dz", "-d", "w", "v", "--", "-u"});
    EXPECT_EQ(devices.options.devices, (std::vector<std::string>{"x", "y", "z", "w", "v", "-u"}));
    const Parsed silence = ParseArgs({"set", "SiLeNcE", "-vj", "e:"});
    EXPECT_EQ(silence.options.setting, Setting::Silence);
    EXPECT_TRUE(silence.options.verbose && silence.options.json);
    EXPECT_EQ(silence.options.devices, std::vector<std::string>{"e:"});
    EXPECT_EQ(ParseArgs({"list", "-vz"}).error, "unknown option '-z'; try 'velotune --help'");
}

TEST(ToolJson, ModelEscaping) {
    EXPECT_EQ(JsonString(std::string("A\"B\\C\x01\x7f\xff", 8)),
              "\"A\\\"B\\\\C\\u0001\\u007F\\u00FF\"");
    // Valid UTF-8 as characters (a C1 control escaped); a cut or overlong one byte by byte.
    EXPECT_EQ(JsonString("\xc3\xa9\xe2\x82\xac\xc2\x85\xc3\xc0\xaf\xed\xa0\x80"),
              "\"\xc3\xa9\xe2\x82\xac\\u0085\\u00C3\\u00C0\\u00AF\\u00ED\\u00A0\\u0080\"");
    EXPECT_EQ(Printable("a\nb\x1b[1m\xc3\xa9\xc2\x9b\xff"), "a?b?[1m\xc3\xa9??");
    DriveReport two;
    two.device = "E:";
    two.model = "M";
    two.twoMode = true;
    two.high = false;
    EXPECT_EQ(DriveJson(two), "{\"device\": \"E:\", \"vendor\": null, \"product\": null, "
                              "\"revision\": null, \"model\": \"M\", \"kind\": \"two-mode\", "
                              "\"mode\": \"silence\", \"speed\": null, \"speeds\": []}");
    DriveReport list;
    list.device = "/dev/sr0";
    list.vendor = "V";
    list.model = "";
    list.twoMode = false;
    list.speed = 24;
    list.speeds = {8, 16, 24};
    EXPECT_EQ(DriveJson(list), "{\"device\": \"/dev/sr0\", \"vendor\": \"V\", \"product\": null, "
                               "\"revision\": null, \"model\": \"\", \"kind\": \"speed-list\", "
                               "\"mode\": null, \"speed\": 24, \"speeds\": [8, 16, 24]}");
    EXPECT_EQ(ErrorJson(std::nullopt, 2, "no drive found"),
              "{\"error\": {\"device\": null, \"code\": 2, \"message\": \"no drive found\"}}");
}

TEST(ToolConfig, RulesCommentsModesAndErrorsWithTheirLine) {
    struct Case {
        std::string text;
        std::string rules; // "line:pattern:mode" each, or the error
    };
    auto describe = [](const Config& c) {
        if (!c.ok) return c.error;
        std::string s;
        for (const ConfigRule& r : c.rules)
            s += std::to_string(r.line) + ":" + r.pattern + ":" +
                 (r.setting == Setting::High      ? "high"
                  : r.setting == Setting::Silence ? "silence"
                                                  : std::to_string(r.speed)) +
                 " ";
        return s;
    };
    const Case cases[] = {
        {"", ""},
        {"# every line commented out\n#/dev/sr0 silence\n\n   \t\n", ""},
        {"/dev/sr0 silence\n", "1:/dev/sr0:silence "},
        {"\n# two\n*VT-4816B*\t24   # a speed\r\n/dev/sr? HIGH\n",
         "3:*VT-4816B*:24 4:/dev/sr?:high "},
        {"a Silence\nb 255", "1:a:silence 2:b:255 "},
        {"/dev/sr0\n",
         "f.conf:1: expected PATTERN MODE, found 1 word (write a blank in a pattern as ?)"},
        {"#\nTRELVIX DVD-RW silence\n",
         "f.conf:2: expected PATTERN MODE, found 3 words (write a blank in a pattern as ?)"},
        {"\n\n/dev/sr0 fast\n",
         "f.conf:3: MODE is high, silence or a speed from 1 to 255, not fast"},
        {"a 0", "f.conf:1: MODE is high, silence or a speed from 1 to 255, not 0"},
        {"a 256", "f.conf:1: MODE is high, silence or a speed from 1 to 255, not 256"},
        {"a 24x", "f.conf:1: MODE is high, silence or a speed from 1 to 255, not 24x"},
        {"a \x1b[2J", "f.conf:1: a control byte (0x1B) in the line: not a configuration"},
        // A byte-order mark is no part of the first pattern; a NUL cuts nothing short.
        {"\xEF\xBB\xBF/dev/sr0 silence\n", "1:/dev/sr0:silence "},
        {"a high\n" + std::string("*\0garbage silence\n", 17),
         "f.conf:2: a NUL byte in the line: not a configuration"},
        {"a high\r\nb\vc high\n",
         "f.conf:2: a control byte (0x0B) in the line: not a configuration"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describe(ParseConfig(c.text, "f.conf")), c.rules) << c.text;

    // A "[" that opens no set matches only itself: used, but warned about.
    const Config brackets = ParseConfig("[ high\n*x[ silence\n*[]]* high\n*[!x]* 24\n", "f.conf");
    ASSERT_TRUE(brackets.ok);
    EXPECT_EQ(brackets.rules.size(), 4u);
    EXPECT_EQ(
        brackets.warnings,
        (std::vector<std::string>{
            "f.conf:1: warning: the '[' in [ is never closed, so it matches only a '[' itself",
            "f.conf:2: warning: the '[' in *x[ is never closed, so it matches only a '[' "
            "itself"}));
}

TEST(ToolConfig, TheFirstRuleMatchingAnyNameOfTheDriveWins) {
    const Config config = ParseConfig("/dev/sr1 high\n"
                                      "/dev/disk/by-id/*VT-2250A* silence\n"
                                      "*TV-1620* 24\n"
                                      "*sr[0-9] high\n",
                                      "f.conf");
    ASSERT_TRUE(config.ok);
    auto line = [&](const std::vector<std::string>& names) {
        const std::vector<const ConfigRule*> rules = MatchConfig(config.rules, names);
        return rules.empty() ? 0u : rules.front()->line;
    };
    EXPECT_EQ(line({"/dev/sr1"}), 1u);
    EXPECT_EQ(line({"/dev/cdrom", "/dev/sr1"}), 1u) << "the path with links resolved";
    EXPECT_EQ(line({"/dev/sr0", "/dev/sr0", "/dev/disk/by-id/ata-VT-2250A_K1", "TV-1620"}), 2u);
    EXPECT_EQ(line({"/dev/sr5", "/dev/sr5", "TRELVIX DVD-RW TV-1620  1.03"}), 3u) << "the model";
    EXPECT_EQ(line({"/dev/sr7", ""}), 4u) << "* matches across /";
    EXPECT_EQ(line({"/dev/sr77", "/dev/sr77", "TRELVIX CD-RW TV-5200  2.10"}), 0u);
    EXPECT_TRUE(MatchConfig(ParseConfig("# nothing\n", "f").rules, {"/dev/sr0"}).empty());
}

TEST(ToolConfig, ADriveIsNamedByItsPathItsTargetAndTheLinksToIt) {
    char pattern[] = "/tmp/vt_names_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char* real = realpath(pattern, nullptr);
    const std::string dir = real;
    std::free(real);
    ASSERT_EQ(mkdir((dir + "/by-id").c_str(), 0755), 0);
    std::ofstream(dir + "/sr0").flush();
    std::ofstream(dir + "/sr1").flush();
    ASSERT_EQ(symlink("../sr0", (dir + "/by-id/ata-TRELVIX_TV-1620_K1").c_str()), 0);
    ASSERT_EQ(symlink("../sr1", (dir + "/by-id/ata-OTHER_K2").c_str()), 0);
    ASSERT_EQ(symlink("sr0", (dir + "/cdrom").c_str()), 0);
    ASSERT_EQ(symlink("gone", (dir + "/dvd").c_str()), 0);
    ASSERT_EQ(symlink("sr0", (dir + "/mine").c_str()), 0); // not a name udev gives a drive

    EXPECT_EQ(DriveNames(dir + "/cdrom", {{dir + "/by-id", {}}, {dir, {"cdrom", "dvd"}}}),
              (std::vector<std::string>{dir + "/cdrom", dir + "/sr0",
                                        dir + "/by-id/ata-TRELVIX_TV-1620_K1", dir + "/cdrom"}));
    EXPECT_EQ(DriveNames(dir + "/missing", {{dir, {}}}),
              std::vector<std::string>{dir + "/missing"});
    std::filesystem::remove_all(dir);
}
