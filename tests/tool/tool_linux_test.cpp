// The Linux velotune through its transport seam: the refusals the kernel gives
// (EPERM, EACCES), the search of /dev/sr* pointed at a folder of simulated
// drives, what is opened, the lock. Runs with the SG_IO emulator preloaded, so
// the real ioctl reaches simulated drives. The plain parts are in tool_plain_test.
#include "tool/cli.h"
#include "tool/config.h"
#include "tool/drivenames_linux.h"
#include "tool/output.h"
#include "tool/speed.h"
#include "tool/transport_linux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <iterator>
#include <scsi/sg.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// What a device path is, as stat tells it: g_statMode with device number g_statDev.
mode_t g_statMode = S_IFREG;
dev_t g_statDev = 0;
int g_opens = 0;
int FakeStat(const char*, struct stat* st) {
    *st = {};
    st->st_mode = g_statMode | 0660;
    st->st_rdev = g_statDev;
    return 0;
}
int CountingRefusingOpen(const char*, int) {
    ++g_opens;
    errno = EACCES;
    return -1;
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
    EXPECT_EQ(list.err,
              "velotune: 1 other optical drive (kind mmc): 'velotune list --all' adds it\n")
        << "a search passes over other drives, and counts them";

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

    // None of the maker's, one of another maker: status shows it, list points to --all.
    ::unlink(Drive("sr0.drive").c_str());
    const Outcome status = velotune::tool::Run({"status"}, transport);
    EXPECT_EQ(status.exitCode, kExitOk) << status.err;
    EXPECT_NE(status.out.find("kind:    mmc\n"), std::string::npos) << status.out;
    const Outcome none = velotune::tool::Run({"list", "--json"}, transport);
    EXPECT_EQ(none.exitCode, kExitNoDevice);
    EXPECT_EQ(none.out, "[]\n");
    EXPECT_NE(none.err.find("--all"), std::string::npos) << none.err;
    const Outcome all = velotune::tool::Run({"list", "--all"}, transport);
    EXPECT_EQ(all.exitCode, kExitOk) << all.err;
    EXPECT_NE(all.out.find("sr3.drive  OTHER   SIMULATED DRIVE 1.00  mmc  -\n"), std::string::npos)
        << all.out;
    // Nothing optical at all: the plain message.
    ::unlink(Drive("sr3.drive").c_str());
    EXPECT_EQ(velotune::tool::Run({"list"}, transport).err, "velotune: no drive found\n");
}

// The tool's loop (Session::Send) is wired to the retry rule on the SG_IO path:
// unit attention once (its sense in descriptor format, 8 bytes) is sent again,
// "becoming ready" after the transport's pause, unit attention that outlasts the
// tries fails; and a status reply too short to hold the mode is none.
TEST_F(LinuxTool, SharedRulesForRepeatsAndShortReplies) {
    ASSERT_TRUE(Preloaded()) << "run with the SG_IO emulator preloaded";
    LinuxTransport transport(Seam());
    g_sleeps.clear();
    WriteDrive("ua.drive", "kind=twomode\nmode=high\nunit_attention=1\nsense_format=descriptor\n");
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

    // Drives found and all left alone: exit 0, each named; none found at all: exit 2.
    std::ofstream(config) << "/dev/disk/by-id/*NOTHERE* silence\n";
    const Outcome alone = velotune::tool::Run({"apply", "--config", config}, transport);
    EXPECT_EQ(alone.exitCode, kExitOk) << alone.err;
    EXPECT_EQ(std::count(alone.err.begin(), alone.err.end(), '\n'), 4) << alone.err;
    EXPECT_EQ(alone.err.find("no drive found"), std::string::npos) << alone.err;
    LinuxTransport empty(Seam(".none"));
    const Outcome none = velotune::tool::Run({"apply", "-j", "--config", config}, empty);
    EXPECT_EQ(none.exitCode, kExitNoDevice);
    EXPECT_EQ(none.err, "velotune: no drive found\n");
    EXPECT_EQ(none.out, "[]\n");
}

// Only what takes SCSI commands without harm is opened: a block device that
// sysfs shows backed by a SCSI device, an sg node, a regular file. A serial
// port, a loop device, a FIFO: "not a SCSI device", never opened.
TEST_F(LinuxTool, OnlyScsiDevicesAndRegularFilesAreOpened) {
    const std::string sys = g_dir + "/sys";
    std::filesystem::create_directories(sys + "/dev/block/11:0/device/scsi_device");
    std::filesystem::create_directories(sys + "/dev/block/7:0/device");
    std::filesystem::create_directories(sys + "/class/scsi_generic");
    std::filesystem::create_directories(sys + "/class/tty");
    std::filesystem::create_directories(sys + "/dev/char/21:0");
    ::symlink("../../../class/scsi_generic", (sys + "/dev/char/21:0/subsystem").c_str());
    std::filesystem::create_directories(sys + "/dev/char/4:65");
    ::symlink("../../../class/tty", (sys + "/dev/char/4:65/subsystem").c_str());
    LinuxSeam seam = Seam();
    seam.stat = &FakeStat;
    seam.open = &CountingRefusingOpen;
    seam.sysDir = sys.c_str();
    LinuxTransport transport(seam);
    const struct {
        mode_t mode;
        dev_t dev;
        bool opened;
        const char* what;
    } cases[] = {
        {S_IFBLK, makedev(11, 0), true, "an optical drive's block device (sr0)"},
        {S_IFCHR, makedev(21, 0), true, "an sg node"},
        {S_IFREG, 0, true, "a regular file"},
        {S_IFCHR, makedev(4, 65), false, "a serial port (ttyS1)"},
        {S_IFBLK, makedev(7, 0), false, "a loop device"},
        {S_IFCHR, makedev(10, 130), false, "a watchdog, unknown to sysfs here"},
        {S_IFIFO, 0, false, "a FIFO"},
        {S_IFDIR, 0, false, "a folder"},
    };
    for (const auto& c : cases) {
        g_statMode = c.mode;
        g_statDev = c.dev;
        g_opens = 0;
        const Outcome status = velotune::tool::Run({"status", "/dev/node"}, transport);
        // Refused for writing, it is tried once more for reading.
        EXPECT_EQ(g_opens, c.opened ? 2 : 0) << c.what;
        EXPECT_EQ(status.exitCode, c.opened ? kExitNotPermitted : kExitNoDevice) << c.what;
        if (!c.opened) EXPECT_EQ(status.err, "velotune: /dev/node: not a SCSI device\n") << c.what;
    }
    // What was opened is not what was looked at (a link changed in between):
    // closed again, and no command sent.
    g_statMode = S_IFBLK;
    g_statDev = makedev(11, 0);
    seam.open = &RealOpen;
    LinuxTransport swapped(seam);
    g_ioctls = 0;
    const Outcome status = velotune::tool::Run({"status", Drive("sr0.drive")}, swapped);
    EXPECT_EQ(status.exitCode, kExitNoDevice);
    EXPECT_EQ(g_ioctls, 0);
    EXPECT_EQ(LogLines("sr0.drive"), 0);
    g_statMode = S_IFREG;
}

// set and apply keep a drive to themselves from the status read on; another
// run that holds it is waited for a bounded time, then named.
TEST_F(LinuxTool, ADriveHeldByAnotherRunIsWaitedForThenRefused) {
    ASSERT_TRUE(Preloaded()) << "run with the SG_IO emulator preloaded";
    LinuxTransport transport(Seam());
    const int held = ::open(Drive("sr0.drive").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    g_sleeps.clear();
    const Outcome set = velotune::tool::Run({"set", "silence", Drive("sr0.drive")}, transport);
    EXPECT_EQ(set.exitCode, kExitFailed);
    EXPECT_EQ(set.err,
              "velotune: " + Drive("sr0.drive") + ": the drive is in use by another velotune\n");
    EXPECT_EQ(LogLines("sr0.drive"), 1) << "INQUIRY only: no status read without the lock";
    EXPECT_EQ(g_sleeps.size(), 100u) << "ten seconds in looks of 100 ms, then no more";
    EXPECT_TRUE(
        std::all_of(g_sleeps.begin(), g_sleeps.end(), [](unsigned ms) { return ms == 100; }));
    // status only reads, and does not wait.
    g_sleeps.clear();
    EXPECT_EQ(velotune::tool::Run({"status", Drive("sr0.drive")}, transport).exitCode, kExitOk);
    // A drive that no line names is not waited for either.
    const std::string config = g_dir + "/other.conf";
    std::ofstream(config) << "*NOTHERE* silence\n";
    const Outcome apply =
        velotune::tool::Run({"apply", "--config", config, Drive("sr0.drive")}, transport);
    EXPECT_EQ(apply.exitCode, kExitOk) << apply.err;
    EXPECT_TRUE(g_sleeps.empty());
    ::close(held);
    EXPECT_EQ(velotune::tool::Run({"set", "silence", Drive("sr0.drive")}, transport).exitCode,
              kExitOk);
}

// Least privilege for the read speed: without write access the tool opens the
// drive read-only, where the kernel passes the commands that read and refuses
// SET CD SPEED, SET STREAMING and the vendor opcode (EPERM); the cdrom
// driver's CDROM_SELECT_SPEED then sets the speed in CD x.
namespace {
std::vector<int> g_readOnly;
int ReadOnlyOpen(const char* path, int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY) {
        errno = EACCES;
        return -1;
    }
    const int fd = ::open(path, flags);
    g_readOnly.push_back(fd);
    return fd;
}
// The kernel's command filter: a reader may not send what changes the drive,
// nobody without CAP_SYS_RAWIO the vendor opcode.
int FilteringIoctl(int fd, unsigned long request, void* arg) {
    if (request == SG_IO) {
        const unsigned char op = static_cast<sg_io_hdr_t*>(arg)->cmdp[0];
        const bool reader = std::count(g_readOnly.begin(), g_readOnly.end(), fd) > 0;
        if (op == 0xFF || (reader && (op == 0xBB || op == 0xB6))) {
            errno = EPERM;
            return -1;
        }
    }
    return ::ioctl(fd, request, arg);
}
} // namespace

TEST_F(LinuxTool, ReadSpeedWithTheLeastPrivilege) {
    ASSERT_TRUE(Preloaded()) << "run with the SG_IO emulator preloaded";
    const std::string cd =
        "kind=mmc\nprofile=0x08\nperf=0\nspeed_kbs=8467\nmax_kbs=8467\ndefault_kbs=8467\n";
    LinuxSeam seam = Seam();
    seam.ioctl = &FilteringIoctl;
    {
        // A writer (uaccess): the maker's modes are refused, the speed is not.
        LinuxTransport transport(seam);
        WriteDrive("w.drive", cd);
        const Outcome status = velotune::tool::Run({"status", Drive("w.drive")}, transport);
        EXPECT_EQ(status.exitCode, kExitOk) << status.err;
        EXPECT_NE(status.out.find("kind:    mmc\n"), std::string::npos) << status.out;
        EXPECT_NE(status.out.find("note:    the maker's modes need root\n"), std::string::npos)
            << status.out;
        const Outcome set = velotune::tool::Run({"set", "8x", Drive("w.drive")}, transport);
        EXPECT_EQ(set.exitCode, kExitOk) << set.err;
        EXPECT_EQ(velotune::tool::Run({"set", "high", Drive("w.drive")}, transport).exitCode,
                  kExitNotPermitted);
    }
    seam.open = &ReadOnlyOpen;
    LinuxTransport transport(seam);
    WriteDrive("r.drive", cd);
    const Outcome set = velotune::tool::Run({"set", "8x", "-j", Drive("r.drive")}, transport);
    EXPECT_EQ(set.exitCode, kExitOk) << set.err;
    EXPECT_NE(set.out.find("\"speed_kbs\": 1416, "), std::string::npos) << "8 x 177: " << set.out;
    EXPECT_NE(set.out.find("\"confirmed\": true"), std::string::npos) << set.out;
    std::ifstream log(Drive("r.drive.log"));
    const std::string sent((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(sent.find("cdb=bb0005880000000000000000 ioctl=CDROM_SELECT_SPEED x=8"),
              std::string::npos)
        << sent;
    EXPECT_NE(sent.find("cdb=5a082a"), std::string::npos) << "read back: " << sent;
    EXPECT_EQ(velotune::tool::Run({"set", "max", Drive("r.drive")}, transport).out,
              Drive("r.drive") + "  max: the drive reads at 48x\n");
    // Without a read-back the system's request is not confirmed.
    WriteDrive("n.drive", "kind=mmc\nprofile=0x08\nperf=0\nno_current=1\n");
    const Outcome blind = velotune::tool::Run({"set", "8x", Drive("n.drive")}, transport);
    EXPECT_EQ(blind.exitCode, kExitOk) << blind.err;
    EXPECT_EQ(blind.err, "velotune: " + Drive("n.drive") +
                             ": not confirmed: the drive does not report its speed\n");
}
