// Device notifications for the drive handles the panel holds open, so that a
// USB drive can be stopped and removed while the panel runs: each handle is
// let go when the system asks to remove its drive, and taken back when the
// removal fails. A removed drive stays in the list; its commands fail.
#pragma once

#include <windows.h>

#include <dbt.h>

#include "drive/speedcontrol.h"

namespace velotune {

struct DeviceNotifyCalls {
    decltype(&::RegisterDeviceNotificationA) registerNotification = &::RegisterDeviceNotificationA;
    decltype(&::UnregisterDeviceNotification) unregisterNotification =
        &::UnregisterDeviceNotification;
};

class DriveWatch {
public:
    DriveWatch(SpeedControl& speed, const DeviceNotifyCalls& calls)
        : speed_(speed), calls_(calls) {}
    ~DriveWatch() { Forget(); }
    DriveWatch(const DriveWatch&) = delete;
    DriveWatch& operator=(const DriveWatch&) = delete;

    // Registers every open drive handle for the window's WM_DEVICECHANGE.
    void Watch(HWND window);
    // Ends every registration; before the drives are released.
    void Forget();
    // WM_DEVICECHANGE of the window.
    void OnDeviceChange(WPARAM event, LPARAM data);

private:
    int PositionOf(LPARAM data) const;
    void Register(int position);
    void Unregister(int position);

    SpeedControl& speed_;
    DeviceNotifyCalls calls_;
    HWND window_ = nullptr;
    HDEVNOTIFY notes_[kMaxNtDrives] = {};
};

} // namespace velotune
