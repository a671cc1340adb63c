// The contract between the speed panel (TrelvixVelotune.exe) and the launcher
// (Velotray.exe): how each finds the other's window, the messages they
// exchange, the registry values they share with the installation, and the
// names that keep each program to one copy per session.
//
// This header is the one place these values are written. The build turns it
// into <build>/generated/protocol.sh (test scripts) and protocol.nsh (the
// installer), so keep every entry on one line of one of the two forms
//     inline constexpr char kName[] = "text";
//     inline constexpr unsigned kName = number;
// No platform header is needed: plain functions and native tests include it too.
#pragma once

namespace velotune::protocol {

// Window identities. The panel is found by class and title, the launcher by
// its title alone; the launcher's class carries the same text.
inline constexpr char kPanelClass[] = "TFormMain";
inline constexpr char kPanelTitle[] = "Trelvix Velotune";
inline constexpr char kLauncherClass[] = "Trelvix Velotune Launcher";
inline constexpr char kLauncherTitle[] = "Trelvix Velotune Launcher";

// Registry, under HKEY_LOCAL_MACHINE. The Run entry is the installation's and
// only read by the launcher; the "autorun" DWORD is the launcher's setting.
inline constexpr char kRunKey[] = "SOFTWARE\\MICROSOFT\\WINDOWS\\Currentversion\\Run";
inline constexpr char kRunValue[] = "Velotune";
inline constexpr char kSettingsKey[] = "SOFTWARE\\ZIRUVERORA\\VELOTUNE";
inline constexpr char kAutorunValue[] = "autorun";

// Window messages, numbered from WM_USER; wParam and lParam are 0.
inline constexpr unsigned kMsgLauncherTray = 1025;        // shell -> launcher: icon callback
inline constexpr unsigned kMsgLauncherPanelClosed = 1026; // panel -> launcher: About goes grey
inline constexpr unsigned kMsgPanelShowAbout = 1026;      // launcher -> panel: modal About box
inline constexpr unsigned kMsgLauncherPanelOpened = 1027; // panel -> launcher: About enabled

// launcher -> panel: come forward, restored if hidden. A registered message,
// so that an elevated panel can let exactly this one through its filter.
inline constexpr char kMsgPanelBringForward[] = "Trelvix Velotune Bring Forward";
// second launcher -> running launcher: open the panel, as a double click on the
// icon does. Registered for the same reason.
inline constexpr char kMsgLauncherOpenPanel[] = "Trelvix Velotune Open Panel";

// One copy per program in the logon session. A copy that finds its mutex
// taken, or cannot open it for lack of rights, is the second copy.
inline constexpr char kLauncherMutex[] = "Local\\Trelvix Velotune Launcher";
inline constexpr char kPanelMutex[] = "Local\\Trelvix Velotune Panel";

// How long one program waits for the other's window procedure, and how long a
// second copy waits for the first copy's window to appear, in milliseconds.
inline constexpr unsigned kSendTimeoutMs = 3000;
inline constexpr unsigned kSecondCopyWaitMs = 5000;

} // namespace velotune::protocol
