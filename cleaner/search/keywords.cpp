// LoadKeywords: the keyword file, one keyword per line, read as Windows-1252 bytes.
#include "cleaner/search/modFennick.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

namespace cleaner {
namespace {

const std::string kOpenError = "Error opening keywords file";

// A name that is already absolute is used as it stands (a user who types a full path means that
// file); any other name is taken relative to the current folder.
std::optional<std::string> KeywordFilePath(const std::string& fileName) {
    namespace fs = std::filesystem;
    if (fs::path(fileName).is_absolute()) {
        return fileName;
    }
    std::error_code ec;
    fs::path here = fs::current_path(ec);
    if (ec) {
        return std::nullopt;
    }
    return here.string() + static_cast<char>(fs::path::preferred_separator) + fileName;
}

// Only U+0020 is trimmed: a tab or any other byte is part of the keyword.
std::string_view TrimSpaces(std::string_view line) {
    std::size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = line.find_last_not_of(' ');
    return line.substr(first, last - first + 1);
}

// Splits a byte stream into lines ended by CR, LF or CR LF, handing each finished line to
// onLine. Reads in blocks, so neither a very long line nor a very long file is held twice.
template <class OnLine>
bool ReadLines(std::istream& in, OnLine onLine) {
    std::string buffer(64 * 1024, '\0');
    std::string line;
    bool afterCr = false;  // the last byte seen was a CR, so an LF now ends nothing
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        auto got = static_cast<std::size_t>(in.gcount());
        std::size_t start = 0;
        for (std::size_t i = 0; i < got; ++i) {
            char c = buffer[i];
            bool lfOfCrLf = afterCr && c == '\n';
            afterCr = c == '\r';
            if (lfOfCrLf) {
                start = i + 1;
            } else if (c == '\r' || c == '\n') {
                line.append(buffer, start, i - start);
                onLine(line);
                line.clear();
                start = i + 1;
            }
        }
        line.append(buffer, start, got - start);
    }
    if (in.bad()) {
        return false;
    }
    onLine(line);  // the last line needs no line end
    return true;
}

}  // namespace

bool modFennick::LoadKeywords(const std::string& fileName) {
    try {
        std::optional<std::string> path = KeywordFilePath(fileName);
        std::error_code ec;
        // Only a regular file: a folder reads as nothing, and a pipe or device could block or
        // never end.
        if (path && std::filesystem::is_regular_file(*path, ec)) {
            std::ifstream in(*path, std::ios::binary);
            if (in.is_open()) {
                Keywords.clear();
                std::vector<Keyword> loaded;
                bool complete = ReadLines(in, [&](const std::string& line) {
                    std::string_view text = TrimSpaces(line);
                    if (!text.empty()) {
                        loaded.push_back(Keyword{std::string(text), std::string()});
                    }
                });
                if (complete) {
                    Keywords = std::move(loaded);
                    return true;
                }
            }
        }
    } catch (const std::exception&) {
        // Out of memory, or a path the platform cannot convert: the file could not be read.
    }
    view_.UpdateStatusText(kOpenError);
    return false;
}

}  // namespace cleaner
