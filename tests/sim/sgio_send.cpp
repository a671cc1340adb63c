// vtsim_send: sends one SCSI command by SG_IO to a file or device and prints the
// outcome, for checking the SG_IO emulator from the shell (run it with the
// emulator in LD_PRELOAD):
//   vtsim_send FILE CDB_HEX LENGTH [in|out|none] [TIMEOUT_MS]
//   vtsim_send FILE other        an ioctl other than SG_IO (CDROMREADTOCHDR)
// Output: "rc=R errno=E status=S resid=N sense=KK/AA/QQ sb=HEX reply=HEX" (sense:
// the fixed-format positions 2, 12, 13; sb: the sense bytes written; reply: the
// bytes the drive transferred).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vtsim_send FILE CDB_HEX LENGTH [in|out|none] [TIMEOUT_MS]\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        std::printf("open failed errno=%d\n", errno);
        return 1;
    }
    if (std::strcmp(argv[2], "other") == 0) {
        unsigned char toc[4] = {};
        errno = 0;
        int rc = ioctl(fd, 0x5305, toc);
        std::printf("rc=%d errno=%d\n", rc, errno);
        return 0;
    }
    std::vector<unsigned char> cdb;
    std::string hex = argv[2];
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        cdb.push_back(
            static_cast<unsigned char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    unsigned length = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0)) : 0;
    std::string dir = argc > 4 ? argv[4] : "in";
    unsigned timeout = argc > 5 ? static_cast<unsigned>(std::strtoul(argv[5], nullptr, 0)) : 60000;
    std::vector<unsigned char> data(length + 1, 0xCC);
    unsigned char sense[32] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.cmdp = cdb.data();
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.dxfer_direction = dir == "out"    ? SG_DXFER_TO_DEV
                         : dir == "none" ? SG_DXFER_NONE
                                         : SG_DXFER_FROM_DEV;
    io.dxferp = data.data();
    io.dxfer_len = length;
    io.sbp = sense;
    io.mx_sb_len = 24;
    io.timeout = timeout;
    errno = 0;
    int rc = ioctl(fd, SG_IO, &io);
    int error = errno;
    std::printf("rc=%d errno=%d status=%d resid=%d sense=%02x/%02x/%02x sb=", rc, rc ? error : 0,
                io.status, io.resid, sense[2], sense[12], sense[13]);
    for (int i = 0; rc == 0 && i < io.sb_len_wr; ++i)
        std::printf("%02x", sense[i]);
    std::printf(" reply=");
    int transferred = rc == 0 ? static_cast<int>(length) - io.resid : 0;
    for (int i = 0; i < transferred; ++i)
        std::printf("%02x", data[i]);
    // The byte past the transfer must be untouched.
    std::printf("%s\n", data[length] == 0xCC ? "" : " OVERRUN");
    close(fd);
    return 0;
}
