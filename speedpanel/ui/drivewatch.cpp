#include "speedpanel/ui/drivewatch.h"

namespace velotune {

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

void DriveWatch::OnDeviceChange(WPARAM event, LPARAM data) {
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
        // Gone (or removed without asking): as a vanished drive.
        speed_.LetGoOfDrive(position);
        Unregister(position);
        break;
    default:
        break;
    }
}

} // namespace velotune
