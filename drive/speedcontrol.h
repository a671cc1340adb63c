// Drive discovery, drive selection and the speed mode handlers of the panel.
// The window reaches this through SpeedControl; SpeedControl reaches the window's
// controls through PanelView.
#pragma once

#include "drive/drivecommands.h"
#include "drive/letters.h"
#include "drive/transport.h"
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velotune {

// Colors of a group box caption.
enum class CaptionColor { WindowText, InactiveCaption };

// Which group decides what Set sends: the two mode buttons or the speed list.
enum class Presentation { Radio, List };

// The panel as the speed control logic sees it. The main window renders it with
// its controls; tests use one fake that behaves as those controls do.
class PanelView {
public:
    virtual ~PanelView() = default;

    // DriveComboBox: entry i is the drive at list position i.
    virtual void AddDrive(const char* entry) = 0;
    virtual void RemoveDrive(int index) = 0; // the entries after it move up
    virtual void ClearDrives() = 0;
    virtual int SelectedDrive() = 0;         // -1 when nothing is selected
    virtual void SelectDrive(int index) = 0; // an index outside the list selects nothing

    // Discovery's message box; the program quits once it is closed.
    virtual void ShowMessageAndQuit(const char* text, const char* caption, unsigned style) = 0;

    // The status line StaticText1.
    virtual void ShowStatus(const char* text) = 0;
    // A two-mode drive's state: the status line takes the caption of Label1
    // (high) or Label2, and RadioButton1 or RadioButton2 is checked.
    virtual void ShowMode(bool high) = 0;
    virtual bool HighSpeedChecked() = 0; // RadioButton1

    // The presentation: enables the controls of the group in use (RadioButton1
    // and 2, or ComboBox1), disables the other's, and draws the caption of the
    // group in use in window text and the other in inactive caption.
    virtual void SetPresentation(Presentation presentation) = 0;
    virtual Presentation CurrentPresentation() = 0; // List while ComboBox1 is enabled

    // The speed list ComboBox1 and its group "Speed Set", whose enabled state
    // marks that a list has been built.
    // Enables the group and fills the list with the speeds in decimal, the
    // first entry selected (none when there are no speeds).
    virtual void ShowSpeeds(std::span<const std::uint8_t> speeds) = 0;
    // Disables the group and empties the list.
    virtual void ClearSpeeds() = 0;
    virtual bool SpeedListBuilt() = 0;
    virtual std::span<const std::string> SpeedEntries() = 0;
    virtual int SelectedSpeed() = 0; // -1 when nothing is selected
};

// The record of discovered drives.
struct DriveList {
    std::uint8_t count = 0;
    std::uint8_t selected = 0;
    int ntFlag = 0;
    std::uint8_t targetIds[kMaxAspiDrives] = {};
    std::uint8_t hostAdapterIds[kMaxAspiDrives] = {};
    // The drives' handles as the transport's table holds them: null past the
    // last drive, INVALID_HANDLE_VALUE for one let go of. SpeedControl owns them.
    HANDLE handles[kMaxNtDrives] = {};
};

class SpeedControl {
public:
    explicit SpeedControl(PanelView& panel, const DiscoverySeam& seam = RealDiscoverySeam());
    ~SpeedControl();
    SpeedControl(const SpeedControl&) = delete;
    SpeedControl& operator=(const SpeedControl&) = delete;

    // Starts the next discovery's drive search on a thread of its own, so that
    // it opens and asks the drives while the window is still being made. The
    // search sends what DiscoverDrives would send, in the same order; it lists
    // and shows nothing. On the NT family only, and one at a time.
    void SearchAhead();
    bool SearchingAhead() const { return static_cast<bool>(ahead_); }
    // Finds the maker's drives, lists them and shows the first one's state. A
    // search started ahead is waited for and its drives taken.
    void DiscoverDrives();
    // Closes the drives and empties the drive selector.
    void ReleaseDrives();
    // Makes the drive selected in the selector the one addressed, and shows it.
    void FollowSelectedDrive();

    // Reads the addressed drive's state and shows it.
    void RefreshSpeedStatus();
    // Sends the mode set for the panel's choice, then refreshes.
    void SetChosenMode();
    // Switches the presentation; neither sends a command.
    void UseSpeedList();
    void UseModeButtons();

    const DriveList& Drives() const { return list_; }

    // A drive that the system is about to remove is let go: its handle is
    // closed, and commands to it fail as to a vanished drive. If the removal
    // fails it is taken back: its letter is opened again. NT family only;
    // false when there was nothing to do.
    bool LetGoOfDrive(int position);
    bool TakeBackDrive(int position);

    // Drives that come and go while the panel runs; NT family only (the ASPI
    // path lists no letters).
    // Takes the drive at a position out of the list, its handle closed. The
    // selected drive stays selected; when it is the one removed, the next one
    // (the new last one, when it was last) is selected and its state shown.
    // The last drive gone, the panel ends as a search that finds none does.
    bool RemoveDrive(int position);
    // Asks the CD-ROM drives at the given letters (bit n for 'a' + n) that are
    // not listed yet, as discovery asks them: status read, then INQUIRY. Those
    // that answer are listed after the others; order and selection stay.
    // Returns how many were added.
    int AddDrives(DWORD letters);
    // The letters of CD-ROM drives now; sends no command.
    DWORD CdromLetters() const;
    // The CD-ROM letters asked since the last discovery, its search included.
    DWORD AskedLetters() const { return asked_; }
    void ForgetLetters(DWORD letters) { asked_ &= ~letters; }
    // The drive letter at a list position ('\0' for none); -1 for a letter not listed.
    char LetterAt(int position) const;
    int PositionOf(char letter) const;

    static constexpr std::size_t kDiscoveryReplySize = 65536;
    static constexpr std::size_t kCommandBufferSize = 1024;

private:
    struct Search; // one NT-family drive search: its letters, handles and findings
    void DiscoverNt();
    void DropSearchAhead();
    void DiscoverAspi();
    // Writes the list's handles and hands the list to the transport's table.
    void PublishDrives();
    void AddEntryFromInquiry(const std::uint8_t* inquiry);
    void ReportNotFound(const char* text, unsigned style);
    bool SpeedListHolds(std::span<const std::uint8_t> speeds);

    PanelView& panel_;
    DiscoverySeam seam_;
    DriveList list_;
    UniqueFileHandle handles_[kMaxNtDrives]; // NT family: the open drive at each list position
    char letters_[kMaxNtDrives] = {};        // NT family: the drive letter at each list position
    DWORD asked_ = 0;                        // NT family: CD-ROM letters asked, bit n for 'a' + n
    std::unique_ptr<Search> ahead_;          // a search started by SearchAhead
    AlignedBuffer<kDiscoveryReplySize> discoveryReply_; // zeroed by every discovery
    AlignedBuffer<kCommandBufferSize> statusReply_;     // status refresh, cleared before each
    AlignedBuffer<kCommandBufferSize> modeSetBuffer_;   // mode set, never read
};

} // namespace velotune
