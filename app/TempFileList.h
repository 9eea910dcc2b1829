#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pm {

// Temporary files made for one owner in the temporary folder: "pcmv" + number + extension, each
// created exclusively so that no other instance's file is ever reused. The list deletes its
// files when it is cleared or destroyed.
class TempFileList {
public:
    explicit TempFileList(std::filesystem::path folder = {});
    ~TempFileList();
    TempFileList(const TempFileList&) = delete;
    TempFileList& operator=(const TempFileList&) = delete;

    void setFolder(std::filesystem::path folder) { m_folder = std::move(folder); }
    const std::filesystem::path& folder() const { return m_folder; }

    // Creates an empty file and returns its full path; ".tmp" when no extension is given (with or
    // without its dot). Numbers whose name exists already are skipped. Empty when the folder
    // cannot take a new file.
    std::string create(std::string_view extension = {});
    // Deletes every file of the list.
    void deleteAll();

    const std::vector<std::string>& files() const { return m_files; }
    unsigned long long nextNumber() const { return m_next; }

private:
    std::filesystem::path m_folder;
    std::vector<std::string> m_files;
    unsigned long long m_next = 0;
};

}  // namespace pm
