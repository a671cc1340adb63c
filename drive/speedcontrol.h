// Drive discovery, drive selection and the speed mode handlers of the panel.
// The window reaches this through SpeedControl; SpeedControl reaches the window's
// controls through PanelControls.
#pragma once

#include "drive/drivecommands.h"
#include "drive/transport.h"
#include <cstdint>
#include <vector>

namespace velotune {

// Colours of a group box caption.
enum class CaptionColour { WindowText, InactiveCaption };

// What discovery and the speed handlers need of the panel. The main window
// implements it with its real controls; tests implement it with fakes.
class PanelControls {
public:
    virtual ~PanelControls() = default;

    // DriveComboBox, the drive selector.
    virtual void DriveListAdd(const char* text) = 0;
    virtual void DriveListClear() = 0;
    virtual int DriveListIndex() = 0; // -1 when nothing is selected
    virtual void DriveListSelect(int index) = 0;

    // The two discovery message boxes, and the quit request that follows them.
    virtual void ShowMessage(const char* text, const char* caption, unsigned style) = 0;
    virtual void QuitRequest() = 0;

    virtual void SetStatusText(const char* text) = 0; // StaticText1
    virtual const char* HighSpeedCaption() = 0;       // Label1
    virtual const char* SilenceCaption() = 0;         // Label2

    virtual void SetRadioEnabled(bool enabled) = 0; // RadioButton1 and 2
    virtual bool HighSpeedChecked() = 0;            // RadioButton1
    virtual void CheckHighSpeed(bool high) = 0;     // checks 1 (true) or 2 (false)

    virtual bool SpeedListEnabled() = 0; // ComboBox1
    virtual void SetSpeedListEnabled(bool enabled) = 0;
    virtual void SpeedListClear() = 0;
    virtual void SpeedListAdd(const char* text) = 0;
    virtual void SpeedListSelect(int index) = 0;
    virtual int SpeedListIndex() = 0; // -1 when nothing is selected
    virtual const char* SpeedListText(int index) = 0;

    virtual bool SpeedGroupEnabled() = 0; // GroupBox1 "Speed Set"
    virtual void SetSpeedGroupEnabled(bool enabled) = 0;
    virtual void SetSpeedGroupCaption(CaptionColour colour) = 0;
    virtual void SetModeGroupCaption(CaptionColour colour) = 0; // GroupBox2 "Select Speed"
};

// Platform calls of discovery. Production uses the real ones; tests fake them.
struct DiscoverySeam {
    BOOL(WINAPI* getVersionEx)(LPOSVERSIONINFOA);
    UINT(WINAPI* getDriveType)(LPCSTR);
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* closeHandle)(HANDLE);
    // Bit n set: drive letter 'a' + n exists. Null, or a result of 0: every letter is asked.
    DWORD(WINAPI* getLogicalDrives)() = nullptr;
};
const DiscoverySeam& RealDiscoverySeam();

// The record of discovered drives.
struct DriveList {
    std::uint8_t count = 0;
    std::uint8_t selected = 0;
    int ntFlag = 0;
    std::uint8_t targetIds[kMaxAspiDrives] = {};
    std::uint8_t hostAdapterIds[kMaxAspiDrives] = {};
    HANDLE handles[kMaxNtDrives] = {};
};

class SpeedControl {
public:
    explicit SpeedControl(PanelControls& panel, const DiscoverySeam& seam = RealDiscoverySeam());

    void DiscoverDrives();
    void ReleaseDrives();
    void DriveComboBoxChange();

    void RefreshSpeedStatus();
    void SpeedSetClick();
    void GroupBox1Click();
    void GroupBox2Click();
    void Timer1Timer();

    const DriveList& Drives() const { return list_; }

    static constexpr std::size_t kDiscoveryReplySize = 65536;
    static constexpr std::size_t kCommandBufferSize = 1024;

private:
    void DiscoverNt();
    void DiscoverAspi();
    void AddEntryFromInquiry(bool inquiryOk);
    void ReportNotFound(const char* text, unsigned style);

    PanelControls& panel_;
    DiscoverySeam seam_;
    DriveList list_;
    AlignedBuffer<kDiscoveryReplySize> discoveryReply_; // zeroed by every discovery
    AlignedBuffer<kCommandBufferSize> statusReply_;     // status refresh, cleared before each
    AlignedBuffer<kCommandBufferSize> modeSetBuffer_;   // mode set, never read
};

} // namespace velotune
