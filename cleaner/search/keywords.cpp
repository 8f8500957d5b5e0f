// LoadKeywords: the keyword file, one keyword per line, read as Windows-1252 bytes; a file that
// begins with a UTF-8 or UTF-16 byte-order mark is read in that encoding and converted. A file
// without a mark that holds NUL bytes is refused: it is no ANSI text.
#include "cleaner/search/modFennick.h"

#include "platform/registry/text.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

namespace cleaner {
namespace {

const std::string kOpenError = "Error opening keywords file";

// A name that is already absolute is used as it stands (a user who types a full path means that
// file); any other name is taken relative to the current folder, joined with one separator. The
// path never goes through narrow text on the way: the current folder of a Windows user may hold
// characters that the narrow code page lacks (C:\Users\José on a Russian system).
std::optional<std::filesystem::path> KeywordFilePath(const std::string& fileName,
                                                     const platform::BackupFiles& files) {
    namespace fs = std::filesystem;
    const fs::path name = files.NativePath(fileName);
    if (name.is_absolute()) {
        return name;
    }
    std::error_code ec;
    fs::path here = fs::current_path(ec);
    if (ec) {
        return std::nullopt;
    }
    here += fs::path::preferred_separator;
    here += name.native();
    return here;
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

// What a byte-order mark at the start of the file says; a file without one is Windows-1252.
enum class Encoding { Cp1252, Utf8, Utf16Le, Utf16Be };

// Reads the mark and leaves the stream just after it (at the start when there is none).
Encoding ReadByteOrderMark(std::istream& in) {
    char start[3] = {};
    in.read(start, sizeof start);
    const std::string_view got(start, static_cast<std::size_t>(in.gcount()));
    in.clear();
    const auto markedBy = [&](std::string_view mark) {
        if (got.substr(0, mark.size()) != mark) return false;
        in.seekg(static_cast<std::streamoff>(mark.size()));
        return true;
    };
    if (markedBy("\xEF\xBB\xBF")) return Encoding::Utf8;
    if (markedBy("\xFF\xFE")) return Encoding::Utf16Le;
    if (markedBy("\xFE\xFF")) return Encoding::Utf16Be;
    in.seekg(0);
    return Encoding::Cp1252;
}

// Windows-1252 text built one character at a time, with the numbers of the lines (counted as
// ReadLines ends them) that hold a character it has no byte for, or bytes that were no text.
class NarrowText {
public:
    void Add(char32_t character, bool valid) {
        char byte = '?';
        if (valid && character < 0x10000) byte = platform::text::ToCp1252(char16_t(character));
        if ((byte == '?' && character != U'?') || !valid) {
            if (badLines_.empty() || badLines_.back() != line_) badLines_.push_back(line_);
        }
        text_.push_back(byte);
        if (character == U'\r' || (character == U'\n' && !afterCr_)) ++line_;
        afterCr_ = character == U'\r';
    }
    const std::string& Text() const { return text_; }
    const std::vector<std::size_t>& BadLines() const { return badLines_; }

private:
    std::string text_;
    std::vector<std::size_t> badLines_;
    std::size_t line_ = 1;
    bool afterCr_ = false;
};

void DecodeUtf16(std::string_view bytes, bool bigEndian, NarrowText& out) {
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        out.Add(bigEndian ? char32_t(first << 8 | second) : char32_t(second << 8 | first), true);
    }
    if (i < bytes.size()) out.Add(0, false);  // half a unit at the end
}

// Decodes UTF-8; a byte that does not begin a whole, shortest-form sequence counts as no text
// (an overlong form could otherwise smuggle in a character the bytes do not spell).
void DecodeUtf8(std::string_view bytes, NarrowText& out) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        char32_t character = 0;
        if (platform::text::DecodeUtf8(bytes, i, character)) {
            out.Add(character, true);
        } else {
            out.Add(0, false);
            ++i;
        }
    }
}

std::string LineNumbers(const std::vector<std::size_t>& lines) {
    constexpr std::size_t kShown = 10;
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < kShown; ++i) {
        if (i > 0) text += i + 1 == lines.size() ? " and " : ", ";
        text += std::to_string(lines[i]);
    }
    if (lines.size() > kShown) text += " and " + std::to_string(lines.size() - kShown) + " more";
    return text;
}

std::string UnconvertibleReport(const std::string& fileName, Encoding encoding,
                                const std::vector<std::size_t>& lines) {
    const bool one = lines.size() == 1;
    return std::string(one ? "Line " : "Lines ") + LineNumbers(lines) + " of the keyword file \"" +
           fileName + "\" (" + (encoding == Encoding::Utf8 ? "UTF-8" : "UTF-16") + " text) " +
           (one ? "holds a character" : "hold characters") +
           " that the Windows-1252 code page lacks, and the registry is searched in that code "
           "page. Nothing was searched. Change or remove " +
           (one ? "that keyword" : "those keywords") + " and press Remove... again.";
}

// A file without a mark that holds a NUL byte is no ANSI text: most often UTF-16 saved without a
// mark, whose every second byte is NUL. Read as Windows-1252 it would find nothing, in silence.
std::string NulBytesReport(const std::string& fileName) {
    return "The keyword file \"" + fileName +
           "\" holds NUL bytes, so it is not ANSI (Windows-1252) text: it may be UTF-16 saved "
           "without a byte-order mark. No registry name holds a NUL, so nothing was searched. "
           "Save the file as ANSI, or as UTF-8 or UTF-16 with a byte-order mark, and press "
           "Remove... again.";
}

// Hands each line of the file to onLine as Windows-1252 text. A marked file is converted whole
// first, and a keyword that does not convert is never guessed at: its line goes to badLines and
// no line is handed on.
template <class OnLine>
bool ReadTextLines(std::istream& in, Encoding encoding, std::vector<std::size_t>& badLines,
                   OnLine onLine) {
    if (encoding == Encoding::Cp1252) return ReadLines(in, onLine);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    NarrowText narrow;
    if (encoding == Encoding::Utf8) {
        DecodeUtf8(bytes, narrow);
    } else {
        DecodeUtf16(bytes, encoding == Encoding::Utf16Be, narrow);
    }
    badLines = narrow.BadLines();
    if (!badLines.empty()) return false;
    std::istringstream text(narrow.Text());
    return ReadLines(text, onLine);
}

}  // namespace

bool modFennick::LoadKeywords(const std::string& fileName) {
    try {
        std::optional<std::filesystem::path> path = KeywordFilePath(fileName, *backupFiles_);
        std::error_code ec;
        // Only a regular file: a folder reads as nothing, and a pipe or device could block or
        // never end.
        if (path && std::filesystem::is_regular_file(*path, ec)) {
            std::ifstream in(*path, std::ios::binary);
            if (in.is_open()) {
                Keywords.clear();
                std::vector<Keyword> loaded;
                std::vector<std::size_t> badLines;
                bool nulBytes = false;
                const Encoding encoding = ReadByteOrderMark(in);
                bool complete = ReadTextLines(in, encoding, badLines, [&](const std::string& line) {
                    if (encoding == Encoding::Cp1252 && line.find('\0') != std::string::npos) {
                        nulBytes = true;
                    }
                    std::string_view text = TrimSpaces(line);
                    if (!text.empty()) {
                        loaded.push_back(Keyword{std::string(text), std::string()});
                    }
                });
                if (!badLines.empty()) {
                    view_.ShowFileMessage(UnconvertibleReport(fileName, encoding, badLines));
                } else if (nulBytes) {
                    view_.ShowFileMessage(NulBytesReport(fileName));
                    complete = false;
                }
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
