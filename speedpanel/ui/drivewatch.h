// Device notifications for the drives of the panel's list. Each open drive
// handle is registered, so that a USB drive can be stopped and removed while
// the panel runs: its handle is let go when the system asks to remove it and
// taken back when the removal fails, and a removed drive leaves the list. CD-ROM
// volumes that arrive, and changes of the machine's devices, bring new drive
// letters, which are asked as discovery asks them; letters asked before are
// not asked again. The list changes after the notification has returned, from
// a message the watch posts to its window.
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

// Posted by the watch to its window: the drive list is to follow the devices.
inline constexpr UINT WM_PANEL_DRIVES_CHANGED = WM_APP + 1;

class DriveWatch {
public:
    DriveWatch(SpeedControl& speed, const DeviceNotifyCalls& calls)
        : speed_(speed), calls_(calls) {}
    ~DriveWatch() { Forget(); }
    DriveWatch(const DriveWatch&) = delete;
    DriveWatch& operator=(const DriveWatch&) = delete;

    // Registers every open drive handle for the window's WM_DEVICECHANGE.
    void Watch(HWND window);
    // Ends every registration and drops what was still to be done; before the
    // drives are released.
    void Forget();
    // WM_DEVICECHANGE of the window.
    void OnDeviceChange(WPARAM event, LPARAM data);
    // WM_PANEL_DRIVES_CHANGED: removed drives leave the list, new letters are
    // asked, and drives that answer are listed and registered.
    void OnDrivesChanged();

private:
    int PositionOf(LPARAM data) const;
    void OnVolume(WPARAM event, const DEV_BROADCAST_VOLUME& volume);
    void Register(int position);
    void Unregister(int position);
    void Remove(int position);
    void Later();

    SpeedControl& speed_;
    DeviceNotifyCalls calls_;
    HWND window_ = nullptr;
    HDEVNOTIFY notes_[kMaxNtDrives] = {};
    DWORD gone_ = 0;    // listed letters removed, bit n for 'a' + n
    DWORD arrived_ = 0; // letters to ask
    bool devicesChanged_ = false;
    bool posted_ = false;
};

} // namespace velotune
