#pragma once

// The four entry points the setup program looks up by name. Plain C so any loader can call them.

#if defined(__GNUC__)
#define PM_INSTALL_EXPORT __attribute__((visibility("default")))
#else
#define PM_INSTALL_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Folder ids understood by StpGetFolderPath.
enum { PM_FOLDER_DOCUMENTS = 0, PM_FOLDER_SHARED_DATA = 1 };

// Size the caller's buffer for StpGetFolderPath must have, terminating zero included.
enum { PM_FOLDER_PATH_SIZE = 260 };

// Writes the folder chosen by `which` into `path` (at least PM_FOLDER_PATH_SIZE characters).
// Returns 1 when written; 0 otherwise, and then `path` is left untouched.
PM_INSTALL_EXPORT int StpGetFolderPath(int which, char* path);

// 1 when the installed DirectX runtime is 9.0b or later, else 0.
PM_INSTALL_EXPORT int CheckDirectXVersion(void);

// Compares two "major.minor.build" texts numerically: 1 when `first` is newer, -1 when older,
// 0 when equal. Missing numbers count as 0.
PM_INSTALL_EXPORT int CompareVersionStrings(const char* first, const char* second);

// Runs DirectXSetupA from the library at `setupLibraryPath` on the redistributable in `rootPath`.
// Returns 0 on success or when the library cannot be used, 1 when a restart is required,
// 2 when the setup reported an error.
PM_INSTALL_EXPORT int DirectXInstall(const char* rootPath, const char* setupLibraryPath);

#ifdef __cplusplus
}
#endif
