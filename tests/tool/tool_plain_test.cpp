// The velotune tool's plain parts: arguments, JSON and text output, the
// configuration and a drive's names.
#include "tool/cli.h"
#include "tool/config.h"
#include "tool/drivenames_linux.h"
#include "tool/output.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velotune::tool;

namespace {

// No device at all: nothing may be opened or sent.
class NoSuchTransport : public Transport {
public:
    std::vector<std::string> Search() override { return {}; }
    std::string DeviceName(const std::string& given) override { return given; }
    CommandResult Open(const std::string&, int&) override {
        CommandResult result;
        result.status = IoStatus::NotFound;
        return result;
    }
    CommandResult Send(int, const std::uint8_t*, std::uint8_t, std::uint8_t*,
                       std::uint32_t) override {
        ADD_FAILURE() << "sent";
        return {};
    }
    void Close(int) override {}
};

} // namespace

TEST(ToolArguments, JsonIsAskedForWhereverItStandsBeforeTheEnd) {
    for (const auto& args :
         {std::vector<std::string>{"status", "-j", "--bogus"},
          std::vector<std::string>{"--bogus", "--json"}, std::vector<std::string>{"frob", "-vj"},
          std::vector<std::string>{"set", "fast", "-d", "x", "-j"}}) {
        const Parsed parsed = ParseArgs(args);
        EXPECT_FALSE(parsed.ok);
        EXPECT_TRUE(parsed.options.json) << args[0] << " " << args[1];
    }
    for (const auto& args : {std::vector<std::string>{"status", "--bogus", "-dj"},
                             std::vector<std::string>{"status", "--bogus", "-d", "-j"},
                             std::vector<std::string>{"status", "--bogus", "--", "-j"}}) {
        EXPECT_FALSE(ParseArgs(args).options.json) << args[2] << " " << args.back();
    }
    NoSuchTransport none;
    const Outcome bogus = velotune::tool::Run({"status", "-j", "--bogus"}, none);
    EXPECT_EQ(bogus.exitCode, kExitUsage);
    EXPECT_EQ(bogus.out, "{\"error\": {\"device\": null, \"code\": 1, \"message\": \"unknown "
                         "option '--bogus'; try 'velotune --help'\"}}\n");
    EXPECT_EQ(velotune::tool::Run({"status", "-jq", "--bogus"}, none).out, "");
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
    // Format characters: bidirectional controls, zero widths, the BOM, a tag.
    EXPECT_EQ(Printable("a\u202Eb\u200Bc\u2066d\uFEFFe\U000E0041f\u00ADg\u00E9"),
              "a?b?c?d?e?f?g\u00E9");
    EXPECT_EQ(JsonString("x\u202Ey"), "\"x\\u202Ey\"");
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
