#pragma once

namespace pm {

// Who the program is: the names under which its settings, temporary folder and instance lock
// are found.
inline constexpr char kApplicationName[] = "Pictomove";
inline constexpr char kRegistryKeyWord[] = "Korvane";
// The program's key under either registry root.
inline constexpr char kProgramKey[] = "SOFTWARE\\Korvane\\Pictomove";
// The preferences section under the program's key.
inline constexpr char kSettingsSection[] = "Settings";
// Appended to the application name for the lock that decides which instance owns the
// temporary folder.
inline constexpr char kInstanceLockSuffix[] = "XclMutex";
// Recent project files the editor keeps.
inline constexpr int kRecentFileCount = 4;

}  // namespace pm
