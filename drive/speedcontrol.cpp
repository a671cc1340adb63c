// Drive discovery, drive selection and the speed mode handlers of the panel.
#include "drive/speedcontrol.h"

#include "common/windowsfamily.h"

#include "drive/discovery.h"
#include "drive/drivecommands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>

namespace velotune {
namespace {

constexpr char kMessageCaption[] = "MESSAGE";
constexpr char kDriveNotFound[] = "DRIVE NOT FOUND!!";
constexpr char kAspiNotFound[] = "ASPI Not Found!!";
constexpr unsigned kStyleNt = MB_OK | MB_ICONERROR;
constexpr unsigned kStyle95 = MB_OK | MB_ICONERROR | MB_SYSTEMMODAL;

constexpr int kAspiTargets = 8;
constexpr std::uint8_t kDeviceTypeCdrom = 0x05;
constexpr std::uint8_t kDataIn = 0;

} // namespace

SpeedControl::SpeedControl(PanelView& panel, const DiscoverySeam& seam)
    : panel_(panel), seam_(seam) {}

SpeedControl::~SpeedControl() {
    DropSearchAhead();
    // Listed drives close with ReleaseDrives only: the transport's table still
    // names them, and the window releases them before it goes.
    for (UniqueFileHandle& handle : handles_)
        handle.Release();
}

void SpeedControl::DiscoverDrives() {
    // A second discovery without a release first drops the old list, so the
    // selector's entries and the list positions stay one to one.
    if (list_.count > 0) ReleaseDrives();

    list_ = DriveList{};
    // A search ahead cleared the buffer when it started, and is using it.
    if (!ahead_) std::fill(discoveryReply_.begin(), discoveryReply_.end(), 0);

    if (IsNtFamily())
        DiscoverNt();
    else
        DiscoverAspi();
}

namespace {

// The NT family's candidates are the letters a to z, or those of a mask; a
// letter is opened when it is a CD-ROM drive.
class LetterPort : public DevicePort {
public:
    explicit LetterPort(const DiscoverySeam& seam, DWORD only = ~DWORD{0})
        : seam_(seam), present_(PresentLetters(seam) & only) {}
    bool Open(int candidate) override {
        // Letters that do not exist are no CD-ROM drive: they are not asked.
        if (!(present_ & (DWORD{1} << candidate))) return false;
        const char letter = static_cast<char>('a' + candidate);
        if (LetterDriveType(seam_, letter) != DRIVE_CDROM) return false;
        cdrom_ |= DWORD{1} << candidate;
        handles_[candidate] = OpenLetter(seam_, letter);
        return static_cast<bool>(handles_[candidate]);
    }
    void Close(int candidate) override { handles_[candidate].Reset(); }
    std::uint8_t Send(int candidate, const std::uint8_t* cdb, std::uint8_t cdbLength,
                      std::uint8_t* data, std::uint32_t dataLength,
                      std::uint32_t& transferred) override {
        return static_cast<std::uint8_t>(PassThroughExecute(
            handles_[candidate].Get(), cdb, cdbLength, data, dataLength, kDataIn, &transferred));
    }
    // A kept drive's handle, for the list to own; those not taken close with the port.
    UniqueFileHandle Take(int candidate) { return std::move(handles_[candidate]); }
    // The CD-ROM letters it has come to, asked or not.
    DWORD CdromLetters() const { return cdrom_; }

private:
    const DiscoverySeam& seam_;
    const DWORD present_;
    DWORD cdrom_ = 0;
    UniqueFileHandle handles_[kMaxNtDrives];
};

} // namespace

struct SpeedControl::Search {
    Search(const DiscoverySeam& s, std::uint8_t* r) : seam(&s), reply(r) {}
    std::optional<LetterPort> letters;
    std::vector<FoundDrive> found;
    std::exception_ptr failure;
    const DiscoverySeam* seam;
    std::uint8_t* reply;
    UniqueKernelHandle thread;

    void Run() {
        try {
            letters.emplace(*seam);
            found = FindDrives(*letters, kMaxNtDrives, kMaxNtDrives, reply);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    static DWORD WINAPI ThreadMain(void* search) {
        static_cast<Search*>(search)->Run();
        return 0;
    }
    // Waits for a search on its thread; an error of the search is raised here.
    void Finish() {
        if (thread) WaitForSingleObject(thread.Get(), INFINITE);
        if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
    }
};

void SpeedControl::SearchAhead() {
    if (ahead_) return;
    if (!IsNtFamily()) return;
    std::fill(discoveryReply_.begin(), discoveryReply_.end(), 0);
    auto search = std::make_unique<Search>(seam_, discoveryReply_.data());
    search->thread =
        UniqueKernelHandle(CreateThread(nullptr, 0, &Search::ThreadMain, search.get(), 0, nullptr));
    // Without a thread DiscoverDrives searches as always.
    if (search->thread) ahead_ = std::move(search);
}

void SpeedControl::DropSearchAhead() {
    if (!ahead_) return;
    std::unique_ptr<Search> search = std::move(ahead_);
    // The drives it kept close with it.
    try {
        search->Finish();
    } catch (...) {
    }
}

void SpeedControl::DiscoverNt() {
    list_.ntFlag = 1;
    list_.count = 0;
    std::unique_ptr<Search> search = std::move(ahead_);
    if (search) {
        search->Finish();
    } else {
        search = std::make_unique<Search>(seam_, discoveryReply_.data());
        search->Run();
        search->Finish();
    }
    asked_ = search->letters ? search->letters->CdromLetters() : 0;
    const std::vector<FoundDrive>& found = search->found;
    for (const FoundDrive& drive : found) {
        letters_[list_.count] = static_cast<char>('a' + drive.candidate);
        handles_[list_.count++] = search->letters->Take(drive.candidate);
    }

    if (list_.count == 0) ReportNotFound(kDriveNotFound, kStyleNt);

    // Every retained drive gets an entry, whether or not its INQUIRY succeeds.
    for (const FoundDrive& drive : found)
        AddEntryFromInquiry(drive.inquiry);

    if (list_.count > 0) {
        panel_.SelectDrive(0);
        list_.selected = 0;
    }
    PublishDrives();
    if (list_.count > 0) RefreshSpeedStatus();
}

void SpeedControl::DiscoverAspi() {
    list_.ntFlag = 0;
    const int adapters = LoadAspi();
    if (adapters == 0) {
        ReportNotFound(kAspiNotFound, kStyle95);
        PublishDrives();
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
            AddEntryFromInquiry(reply);
            ++list_.count;
        }
    }

    if (list_.count == 0) {
        ReportNotFound(kDriveNotFound, kStyle95);
    } else {
        panel_.SelectDrive(0);
        list_.selected = 0;
    }
    PublishDrives();
    if (list_.count > 0) RefreshSpeedStatus();
}

void SpeedControl::PublishDrives() {
    for (int position = 0; position < kMaxNtDrives; ++position)
        list_.handles[position] =
            list_.ntFlag == 1 && position < list_.count ? handles_[position].Get() : nullptr;
    SetDriveTable(list_.ntFlag, list_.targetIds, list_.hostAdapterIds, list_.handles);
}

void SpeedControl::AddEntryFromInquiry(const std::uint8_t* inquiry) {
    const std::string text = InquiryEntryText(inquiry, kInquiryLength);
    panel_.AddDrive(text.c_str());
}

void SpeedControl::ReportNotFound(const char* text, unsigned style) {
    panel_.ShowMessageAndQuit(text, kMessageCaption, style);
}

void SpeedControl::ReleaseDrives() {
    if (list_.ntFlag == 1) {
        for (int position = 0; position < list_.count; ++position)
            handles_[position].Reset(); // those let go of are closed already
    }
    panel_.ClearDrives();
    list_.count = 0;
}

bool SpeedControl::LetGoOfDrive(int position) {
    if (list_.ntFlag != 1 || position < 0 || position >= list_.count || !handles_[position])
        return false;
    handles_[position].Reset();
    PublishDrives();
    return true;
}

bool SpeedControl::TakeBackDrive(int position) {
    if (list_.ntFlag != 1 || position < 0 || position >= list_.count || handles_[position])
        return false;
    handles_[position] = OpenLetter(seam_, letters_[position]);
    PublishDrives();
    return static_cast<bool>(handles_[position]);
}

char SpeedControl::LetterAt(int position) const {
    return list_.ntFlag == 1 && position >= 0 && position < list_.count ? letters_[position] : '\0';
}

int SpeedControl::PositionOf(char letter) const {
    for (int position = 0; position < list_.count; ++position)
        if (LetterAt(position) == letter) return position;
    return -1;
}

DWORD SpeedControl::CdromLetters() const {
    const DWORD present = PresentLetters(seam_);
    DWORD cdrom = 0;
    for (int n = 0; n < kMaxNtDrives; ++n)
        if ((present & (DWORD{1} << n)) &&
            LetterDriveType(seam_, static_cast<char>('a' + n)) == DRIVE_CDROM)
            cdrom |= DWORD{1} << n;
    return cdrom;
}

bool SpeedControl::RemoveDrive(int position) {
    if (LetterAt(position) == '\0') return false;
    handles_[position].Reset();
    const int last = list_.count - 1;
    for (int p = position; p < last; ++p) {
        handles_[p] = std::move(handles_[p + 1]);
        letters_[p] = letters_[p + 1];
    }
    letters_[last] = '\0';
    list_.count = static_cast<std::uint8_t>(last);
    panel_.RemoveDrive(position);

    const bool selectedGone = position == list_.selected;
    if (position < list_.selected || (selectedGone && list_.selected >= list_.count && last > 0))
        --list_.selected;
    PublishDrives();
    if (list_.count == 0) {
        list_.selected = 0;
        ReportNotFound(kDriveNotFound, kStyleNt);
        return true;
    }
    panel_.SelectDrive(list_.selected);
    if (selectedGone) {
        // The removed drive's state never stands beside the next drive's name.
        panel_.ShowStatus("");
        RefreshSpeedStatus();
    }
    return true;
}

int SpeedControl::AddDrives(DWORD letters) {
    if (list_.ntFlag != 1 || ahead_) return 0;
    DWORD wanted = letters & ((DWORD{1} << kMaxNtDrives) - 1);
    for (int position = 0; position < list_.count; ++position)
        wanted &= ~(DWORD{1} << (letters_[position] - 'a'));
    if (wanted == 0 || list_.count >= kMaxNtDrives) return 0;

    std::fill(discoveryReply_.begin(), discoveryReply_.end(), 0);
    LetterPort port(seam_, wanted);
    const std::vector<FoundDrive> found =
        FindDrives(port, kMaxNtDrives, kMaxNtDrives - list_.count, discoveryReply_.data());
    asked_ |= port.CdromLetters();
    for (const FoundDrive& drive : found) {
        letters_[list_.count] = static_cast<char>('a' + drive.candidate);
        handles_[list_.count++] = port.Take(drive.candidate);
        AddEntryFromInquiry(drive.inquiry);
    }
    if (!found.empty()) PublishDrives();
    return static_cast<int>(found.size());
}

void SpeedControl::FollowSelectedDrive() {
    const int index = panel_.SelectedDrive();
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
        panel_.SetPresentation(Presentation::Radio);
        panel_.ClearSpeeds();
        panel_.ShowMode(status.highSpeed);
        return;
    }

    // Speed list. A built list is built again only when the drive reports other
    // speeds than it holds (a different drive, or a drive whose list changed), so
    // the user's choice in an unchanged list stays. The status line always shows
    // this reply's speed.
    if (!panel_.SpeedListBuilt() || !SpeedListHolds(status.speeds))
        panel_.ShowSpeeds(status.speeds);
    char text[kStatusTextSize];
    FormatSpeedListStatus(status.current, text);
    panel_.ShowStatus(text);
}

bool SpeedControl::SpeedListHolds(std::span<const std::uint8_t> speeds) {
    const std::span<const std::string> entries = panel_.SpeedEntries();
    if (entries.size() != speeds.size()) return false;
    char text[kSpeedEntrySize];
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        FormatSpeedEntry(speeds[i], text);
        if (entries[i] != text) return false;
    }
    return true;
}

void SpeedControl::SetChosenMode() {
    if (list_.selected >= list_.count) return;
    std::uint8_t value;
    if (panel_.CurrentPresentation() == Presentation::List) {
        // List presentation: without a selected entry there is nothing to set.
        const int index = panel_.SelectedSpeed();
        const std::span<const std::string> entries = panel_.SpeedEntries();
        if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) return;
        value = ParseSpeedEntry(entries[static_cast<std::size_t>(index)].c_str());
    } else {
        value = panel_.HighSpeedChecked() ? kModeHighSpeed : kModeSilence;
    }
    std::uint8_t cdb[kCdb12];
    BuildModeSetCdb(value, cdb);
    SendDriveCommand(list_.selected, cdb, kCdb12, modeSetBuffer_.data(), kModeSetLength, kDataIn);
    RefreshSpeedStatus();
}

void SpeedControl::UseSpeedList() {
    panel_.SetPresentation(Presentation::List);
}

void SpeedControl::UseModeButtons() {
    panel_.SetPresentation(Presentation::Radio);
}

} // namespace velotune
