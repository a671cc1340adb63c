// Drive discovery, drive selection and the speed mode handlers of the panel.
#include "drive/speedcontrol.h"

#include "drive/drivecommands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velotune {
namespace {

constexpr char kMessageCaption[] = "MESSAGE";
constexpr char kDriveNotFound[] = "DRIVE NOT FOUND!!";
constexpr char kAspiNotFound[] = "ASPI Not Found!!";
constexpr unsigned kStyleNt = MB_OK | MB_ICONERROR;
constexpr unsigned kStyle95 = MB_OK | MB_ICONERROR | MB_SYSTEMMODAL;

constexpr int kAspiTargets = 8;
constexpr std::uint8_t kDeviceTypeCdrom = 0x05;
constexpr std::size_t kInquiryTextFirst = 8;
constexpr std::uint8_t kDataIn = 0;

const DiscoverySeam kRealSeam = {&GetVersionExA, &GetDriveTypeA, &CreateFileA, &CloseHandle,
                                 &GetLogicalDrives};

} // namespace

const DiscoverySeam& RealDiscoverySeam() {
    return kRealSeam;
}

SpeedControl::SpeedControl(PanelControls& panel, const DiscoverySeam& seam)
    : panel_(panel), seam_(seam) {}

void SpeedControl::DiscoverDrives() {
    // A second discovery without a release first drops the old list, so the
    // selector's entries and the list positions stay one to one.
    if (list_.count > 0) ReleaseDrives();

    list_ = DriveList{};
    std::fill(discoveryReply_.begin(), discoveryReply_.end(), 0);

    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    seam_.getVersionEx(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        DiscoverNt();
    else
        DiscoverAspi();
}

void SpeedControl::DiscoverNt() {
    list_.ntFlag = 1;
    list_.count = 0;
    std::uint8_t* reply = discoveryReply_.data();
    // Letters that do not exist are no CD-ROM drive: they are not asked.
    DWORD present = seam_.getLogicalDrives ? seam_.getLogicalDrives() : 0;
    if (present == 0) present = ~DWORD{0};
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        if (!(present & (DWORD{1} << (letter - 'a')))) continue;
        const char root[3] = {letter, ':', '\0'};
        if (seam_.getDriveType(root) != DRIVE_CDROM) continue;
        const char path[7] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
        HANDLE handle =
            seam_.createFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        std::memset(reply, 0, kStatusReadLength);
        std::uint32_t transferred = 0;
        if (PassThroughExecute(handle, kStatusReadCdb, kCdb12, reply, kStatusReadLength, kDataIn,
                               &transferred) == kResultOk &&
            StatusReplyBytes(kStatusReadLength, transferred) != 0) {
            list_.handles[list_.count++] = handle;
        } else {
            seam_.closeHandle(handle);
        }
    }

    if (list_.count == 0) ReportNotFound(kDriveNotFound, kStyleNt);

    // Every retained drive gets an entry, whether or not its INQUIRY succeeds.
    for (int position = 0; position < list_.count; ++position) {
        std::memset(reply, 0, kInquiryLength);
        const int result = PassThroughExecute(list_.handles[position], kInquiryCdb, kCdb6, reply,
                                              kInquiryLength, kDataIn);
        AddEntryFromInquiry(result == kResultOk);
    }

    if (list_.count > 0) {
        panel_.DriveListSelect(0);
        list_.selected = 0;
    }
    SetDriveTable(list_.ntFlag, list_.targetIds, list_.hostAdapterIds, list_.handles);
    if (list_.count > 0) RefreshSpeedStatus();
}

void SpeedControl::DiscoverAspi() {
    list_.ntFlag = 0;
    const int adapters = LoadAspi();
    if (adapters == 0) {
        ReportNotFound(kAspiNotFound, kStyle95);
        SetDriveTable(list_.ntFlag, list_.targetIds, list_.hostAdapterIds, list_.handles);
        return;
    }

    list_.count = 0;
    std::uint8_t* reply = discoveryReply_.data();
    // The table holds kMaxAspiDrives drives; the scan stops when it is full.
    for (int adapter = 0; adapter < adapters && list_.count < kMaxAspiDrives; ++adapter) {
        for (int target = 0; target < kAspiTargets && list_.count < kMaxAspiDrives; ++target) {
            const auto ha = static_cast<std::uint8_t>(adapter);
            const auto id = static_cast<std::uint8_t>(target);
            std::memset(reply, 0, kStatusReadLength);
            std::uint32_t transferred = 0;
            if (AspiExecute(ha, id, kStatusReadCdb, kCdb12, reply, kStatusReadLength, kDataIn,
                            &transferred) != kResultOk ||
                StatusReplyBytes(kStatusReadLength, transferred) == 0)
                continue;
            std::memset(reply, 0, kInquiryLength);
            if (AspiExecute(ha, id, kInquiryCdb, kCdb6, reply, kInquiryLength, kDataIn) !=
                    kResultOk ||
                reply[0] != kDeviceTypeCdrom)
                continue;
            list_.targetIds[list_.count] = id;
            list_.hostAdapterIds[list_.count] = ha;
            AddEntryFromInquiry(true);
            ++list_.count;
        }
    }

    if (list_.count == 0) {
        ReportNotFound(kDriveNotFound, kStyle95);
    } else {
        panel_.DriveListSelect(0);
        list_.selected = 0;
    }
    SetDriveTable(list_.ntFlag, list_.targetIds, list_.hostAdapterIds, list_.handles);
    if (list_.count > 0) RefreshSpeedStatus();
}

void SpeedControl::AddEntryFromInquiry(bool inquiryOk) {
    std::uint8_t* reply = discoveryReply_.data();
    // A failed INQUIRY leaves no name of its own (at most sense bytes): the
    // entry is shown blank rather than with whatever the buffer held before.
    if (!inquiryOk) std::memset(reply + kInquiryTextFirst, ' ', kInquiryLength - kInquiryTextFirst);
    const std::string text = InquiryEntryText(reply, kInquiryLength);
    panel_.DriveListAdd(text.c_str());
}

void SpeedControl::ReportNotFound(const char* text, unsigned style) {
    panel_.ShowMessage(text, kMessageCaption, style);
    panel_.QuitRequest();
}

void SpeedControl::ReleaseDrives() {
    if (list_.ntFlag == 1) {
        for (int position = 0; position < list_.count; ++position)
            seam_.closeHandle(list_.handles[position]);
    }
    panel_.DriveListClear();
    list_.count = 0;
}

void SpeedControl::DriveComboBoxChange() {
    const int index = panel_.DriveListIndex();
    if (index < 0 || index >= list_.count) return;
    if (index == list_.selected) return;
    list_.selected = static_cast<std::uint8_t>(index);
    RefreshSpeedStatus();
}

void SpeedControl::RefreshSpeedStatus() {
    // Positions at or past the count address no drive (none, or released).
    if (list_.selected >= list_.count) return;
    // A cleared buffer: bytes of an earlier reply never show as the current mode.
    std::fill(statusReply_.begin(), statusReply_.end(), 0);
    std::uint32_t transferred = 0;
    if (SendDriveCommand(list_.selected, kStatusReadCdb, kCdb12, statusReply_.data(),
                         kStatusReadLength, kDataIn, &transferred) != kResultOk)
        return;
    // Only the bytes the drive sent count, whatever byte 1 says; a reply too
    // short to hold the mode is no reply.
    const std::size_t replySize = StatusReplyBytes(kStatusReadLength, transferred);
    if (replySize == 0) return;
    const SpeedStatus status = ParseStatusReply(statusReply_.data(), replySize);
    if (status.twoMode) {
        panel_.SetRadioEnabled(true);
        panel_.SetSpeedListEnabled(false);
        panel_.SetModeGroupCaption(CaptionColour::WindowText);
        panel_.SetSpeedGroupCaption(CaptionColour::InactiveCaption);
        panel_.SetSpeedGroupEnabled(false);
        panel_.SpeedListClear();
        if (status.highSpeed) {
            panel_.SetStatusText(panel_.HighSpeedCaption());
            panel_.CheckHighSpeed(true);
        } else {
            panel_.SetStatusText(panel_.SilenceCaption());
            panel_.CheckHighSpeed(false);
        }
        return;
    }

    // Speed list: built once; the enabled "Speed Set" group marks it as built.
    if (panel_.SpeedGroupEnabled()) return;
    panel_.SetSpeedGroupEnabled(true);
    panel_.SpeedListClear();
    char text[kStatusTextSize];
    for (std::uint8_t speed : status.speeds) {
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(speed));
        panel_.SpeedListAdd(text);
    }
    if (!status.speeds.empty()) panel_.SpeedListSelect(0);
    FormatSpeedListStatus(status.current, text);
    panel_.SetStatusText(text);
}

void SpeedControl::SpeedSetClick() {
    if (list_.selected >= list_.count) return;
    std::uint8_t value;
    if (panel_.SpeedListEnabled()) {
        // List presentation: without a selected entry there is nothing to set.
        const int index = panel_.SpeedListIndex();
        if (index < 0) return;
        value = ParseSpeedEntry(panel_.SpeedListText(index));
    } else {
        value = panel_.HighSpeedChecked() ? kModeHighSpeed : kModeSilence;
    }
    std::uint8_t cdb[kCdb12];
    BuildModeSetCdb(value, cdb);
    SendDriveCommand(list_.selected, cdb, kCdb12, modeSetBuffer_.data(), kModeSetLength, kDataIn);
    RefreshSpeedStatus();
}

void SpeedControl::GroupBox1Click() {
    panel_.SetRadioEnabled(false);
    panel_.SetSpeedListEnabled(true);
    panel_.SetSpeedGroupCaption(CaptionColour::WindowText);
    panel_.SetModeGroupCaption(CaptionColour::InactiveCaption);
}

void SpeedControl::GroupBox2Click() {
    panel_.SetRadioEnabled(true);
    panel_.SetSpeedListEnabled(false);
    panel_.SetSpeedGroupCaption(CaptionColour::InactiveCaption);
    panel_.SetModeGroupCaption(CaptionColour::WindowText);
}

void SpeedControl::Timer1Timer() {
    RefreshSpeedStatus();
}

} // namespace velotune
