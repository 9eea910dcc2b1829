#pragma once

#include <filesystem>
#include <string>

namespace pm {

// The program's temporary folder, shared by every running instance. A lock file in the folder,
// held with flock for the life of the instance, decides who may clean it: the first instance to
// start empties the folder of files left behind by crashed runs; instances started while another
// runs leave it alone. The lock goes with the process, so a crash never leaves it taken.
class TempFolder {
public:
    TempFolder() = default;
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder used for a base folder: "Pictomove" in it, or "Pictomove-<uid>" when the base
    // is writable by other users (a shared /tmp), so that nobody else can own or fill ours.
    static std::filesystem::path folderFor(const std::filesystem::path& base);

    // Creates the folder when missing (readable by this user only), takes the instance lock and,
    // when no other instance holds it, empties the folder. False, with the reason in *error, when
    // the folder cannot be made or is not a folder owned by this user.
    bool acquire(const std::filesystem::path& folder, std::string* error = nullptr);
    // Drops the lock; the files stay.
    void release();

    bool isHeld() const { return m_fd >= 0; }
    // True when this instance found no other and emptied the folder.
    bool isFirstInstance() const { return m_first; }
    const std::filesystem::path& folder() const { return m_folder; }
    static std::string lockFileName();

private:
    std::filesystem::path m_folder;
    int m_fd = -1;
    bool m_first = false;
};

}  // namespace pm
