#include "speedpanel/ui/drivewatch.h"

namespace velotune {
namespace {

DWORD Bit(char letter) {
    return DWORD{1} << (letter - 'a');
}

} // namespace

void DriveWatch::Watch(HWND window) {
    Forget();
    window_ = window;
    const DriveList& drives = speed_.Drives();
    if (drives.ntFlag != 1) return; // ASPI holds no handles
    for (int position = 0; position < drives.count; ++position)
        Register(position);
}

void DriveWatch::Forget() {
    for (int position = 0; position < kMaxNtDrives; ++position)
        Unregister(position);
    window_ = nullptr;
    gone_ = arrived_ = 0;
    devicesChanged_ = false;
    posted_ = false;
}

void DriveWatch::Register(int position) {
    const HANDLE handle = speed_.Drives().handles[position];
    if (!window_ || handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DEV_BROADCAST_HANDLE filter = {};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = handle;
    notes_[position] = calls_.registerNotification(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void DriveWatch::Unregister(int position) {
    if (notes_[position]) calls_.unregisterNotification(notes_[position]);
    notes_[position] = nullptr;
}

// Out of the list, with the registrations of the drives after it moving up.
void DriveWatch::Remove(int position) {
    Unregister(position);
    for (int p = position; p + 1 < kMaxNtDrives; ++p)
        notes_[p] = notes_[p + 1];
    notes_[kMaxNtDrives - 1] = nullptr;
    // A drive that comes back at its letter is asked again.
    speed_.ForgetLetters(Bit(speed_.LetterAt(position)));
    speed_.RemoveDrive(position);
}

int DriveWatch::PositionOf(LPARAM data) const {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_HANDLE ||
        header->dbch_size < sizeof(DEV_BROADCAST_HANDLE))
        return -1;
    const HDEVNOTIFY note = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(data)->dbch_hdevnotify;
    for (int position = 0; position < kMaxNtDrives; ++position)
        if (note && notes_[position] == note) return position;
    return -1;
}

// The list changes once the notification has returned: the system waits for
// its answer, and the last drive gone shows a box.
void DriveWatch::Later() {
    if (posted_ || !window_) return;
    posted_ = PostMessageA(window_, WM_PANEL_DRIVES_CHANGED, 0, 0) != FALSE;
}

void DriveWatch::OnVolume(WPARAM event, const DEV_BROADCAST_VOLUME& volume) {
    const DWORD letters = volume.dbcv_unitmask & ((DWORD{1} << kMaxNtDrives) - 1);
    // A disc put in or taken out: the drive itself stays what it was.
    const bool media = (volume.dbcv_flags & DBTF_MEDIA) != 0;
    if (event == DBT_DEVICEARRIVAL) {
        arrived_ |= media ? letters & ~speed_.AskedLetters() : letters;
    } else if (event == DBT_DEVICEREMOVECOMPLETE && !media) {
        // A letter that went is asked again should a drive come back at it.
        speed_.ForgetLetters(letters);
        for (int position = 0; position < speed_.Drives().count; ++position)
            if (letters & Bit(speed_.LetterAt(position))) gone_ |= Bit(speed_.LetterAt(position));
    }
    if (arrived_ || gone_) Later();
}

void DriveWatch::OnDeviceChange(WPARAM event, LPARAM data) {
    if (!window_ || speed_.Drives().ntFlag != 1) return;
    if (event == DBT_DEVNODES_CHANGED) {
        devicesChanged_ = true;
        Later();
        return;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header && header->dbch_devicetype == DBT_DEVTYP_VOLUME &&
        header->dbch_size >= sizeof(DEV_BROADCAST_VOLUME)) {
        OnVolume(event, *reinterpret_cast<const DEV_BROADCAST_VOLUME*>(data));
        return;
    }
    const int position = PositionOf(data);
    if (position < 0) return;
    switch (event) {
    case DBT_DEVICEQUERYREMOVE:
        // The registration stays: the outcome of the removal follows.
        speed_.LetGoOfDrive(position);
        break;
    case DBT_DEVICEQUERYREMOVEFAILED:
        // The drive stays: a new handle, with a registration of its own.
        Unregister(position);
        speed_.TakeBackDrive(position);
        Register(position);
        break;
    case DBT_DEVICEREMOVEPENDING:
    case DBT_DEVICEREMOVECOMPLETE:
        // Gone (or removed without asking): nothing more is sent to it, and it
        // leaves the list.
        speed_.LetGoOfDrive(position);
        Unregister(position);
        gone_ |= Bit(speed_.LetterAt(position));
        Later();
        break;
    default:
        break;
    }
}

void DriveWatch::OnDrivesChanged() {
    posted_ = false;
    if (!window_ || speed_.Drives().count == 0) return;
    for (int position = speed_.Drives().count - 1; position >= 0; --position)
        if (gone_ & Bit(speed_.LetterAt(position))) Remove(position);
    gone_ = 0;
    // The last drive gone ends the panel, as a search that finds none does.
    if (speed_.Drives().count == 0) return;

    DWORD ask = arrived_;
    if (devicesChanged_) {
        // Letters that are no CD-ROM drive any more are forgotten; no command is sent.
        const DWORD now = speed_.CdromLetters();
        speed_.ForgetLetters(speed_.AskedLetters() & ~now);
        ask |= now & ~speed_.AskedLetters();
    }
    arrived_ = 0;
    devicesChanged_ = false;
    const int before = speed_.Drives().count;
    speed_.AddDrives(ask);
    for (int position = before; position < speed_.Drives().count; ++position)
        Register(position);
}

} // namespace velotune
