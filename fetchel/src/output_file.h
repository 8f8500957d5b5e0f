// The file a download writes: a temporary file beside the target, renamed over the target only
// when the whole body is in it and on disc. Until then the target is untouched, and a download
// that fails removes its temporary file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace fetchel {

class OutputFile {
public:
    // Creates the temporary file beside target; nothing when it cannot be created (a missing
    // folder, no permission) or when target is a folder.
    static std::optional<OutputFile> CreateBeside(const std::string& target);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // removes the temporary file unless it was committed

    // Appends all the bytes; false when the system refuses any of them (a full disc).
    bool Write(const char* data, std::size_t size);

    // Flushes the file to disc, closes it and renames it over the target.
    bool Commit();

    const std::string& TemporaryPath() const { return temporaryPath_; }

private:
    OutputFile(int fd, std::string temporaryPath, std::string target);
    void Discard();

    int fd_ = -1;
    std::string temporaryPath_;
    std::string target_;
};

}  // namespace fetchel
