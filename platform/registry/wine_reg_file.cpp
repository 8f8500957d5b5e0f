#include "platform/registry/wine_reg_file.h"

#include "platform/registry/hex_data.h"
#include "platform/registry/text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <unordered_map>

namespace platform::detail {
namespace {

constexpr std::string_view kSignature = "WINE REGISTRY Version 2";
constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
constexpr std::uint64_t kTicksPerSecond = 10000000ull;
constexpr std::size_t kMaxNameLength = 255;  // Wine refuses longer key names
constexpr std::size_t kFlushSize = 1 << 20;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::size_t SkipSpace(std::string_view s, std::size_t pos) {
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    return pos;
}

bool OnlySpaceFrom(std::string_view s, std::size_t pos) { return SkipSpace(s, pos) == s.size(); }

// The file's lines; the LF and one CR before it are not part of a line.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        start_ = pos_;
        std::size_t nl = text_.find('\n', pos_);
        std::size_t stop = nl == std::string_view::npos ? text_.size() : nl;
        end_ = nl == std::string_view::npos ? text_.size() : nl + 1;
        line = text_.substr(start_, stop - start_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end_;
        ++number_;
        return true;
    }

    std::size_t Number() const { return number_; }
    std::size_t Start() const { return start_; }  // of the current line
    std::size_t End() const { return end_; }      // after the current line's LF

private:
    std::string_view text_;
    std::size_t pos_ = 0, start_ = 0, end_ = 0, number_ = 0;
};

// Reads Wine-escaped text from pos up to the unescaped `end` character (Wine's parse_strW),
// handing each UTF-16 unit to put. Returns the position after `end`, or npos with a reason.
template <typename Put>
std::size_t Decode(std::string_view s, std::size_t pos, char end, Put put, std::string& why) {
    while (pos < s.size() && s[pos] != end) {
        const char c = s[pos];
        if (c != '\\' && static_cast<unsigned char>(c) < 0x80) {
            put(static_cast<char16_t>(c));
            ++pos;
            continue;
        }
        if (c != '\\' || (pos + 1 < s.size() && static_cast<unsigned char>(s[pos + 1]) >= 0x80)) {
            // Raw UTF-8; an escaped UTF-8 character stands for itself.
            if (c == '\\') ++pos;
            char32_t cp = 0;
            if (!text::DecodeUtf8(s, pos, cp)) {
                why = "text that is not valid UTF-8";
                return std::string_view::npos;
            }
            if (cp >= 0x10000) {
                cp -= 0x10000;
                put(static_cast<char16_t>(0xD800 + (cp >> 10)));
                put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                put(static_cast<char16_t>(cp));
            }
            continue;
        }
        if (++pos >= s.size()) break;
        const char e = s[pos++];
        switch (e) {
            case 'a': put(7); break;
            case 'b': put(8); break;
            case 'e': put(27); break;
            case 'f': put(12); break;
            case 'n': put(10); break;
            case 'r': put(13); break;
            case 't': put(9); break;
            case 'v': put(11); break;
            case 'x': {
                unsigned value = 0;
                int digits = 0;
                while (digits < 4 && pos < s.size() && HexDigit(s[pos]) >= 0) {
                    value = value * 16 + static_cast<unsigned>(HexDigit(s[pos++]));
                    ++digits;
                }
                put(digits ? static_cast<char16_t>(value) : u'x');
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned value = static_cast<unsigned>(e - '0');
                    for (int digits = 1; digits < 3 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7'; ++digits)
                        value = value * 8 + static_cast<unsigned>(s[pos++] - '0');
                    put(static_cast<char16_t>(value));
                } else {
                    put(static_cast<char16_t>(e));
                }
        }
    }
    if (pos >= s.size()) {
        why = std::string("text without its closing ") + end;
        return std::string_view::npos;
    }
    return pos + 1;
}

std::size_t Unescape(std::string_view s, std::size_t pos, char end, std::u16string& out,
                     std::string& why) {
    // Every unit takes at least one byte of input, so this is room enough.
    out.resize(s.size() - std::min(pos, s.size()) + 1);
    char16_t* write = out.data();
    const std::size_t next = Decode(s, pos, end, [&write](char16_t unit) { *write++ = unit; }, why);
    out.resize(static_cast<std::size_t>(write - out.data()));
    return next;
}

// The position of the first character from pos on that is `end`, a backslash or a byte of
// UTF-8 (s.size() when none is), eight characters at a time.
std::size_t FindSpecial(std::string_view s, std::size_t pos, char end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    const std::uint64_t ends = kOnes * static_cast<unsigned char>(end), backslashes = kOnes * '\\';
    // Flags each zero byte; the lowest flag is exact, which is all that is used.
    const auto zeroBytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    for (; pos + 8 <= s.size(); pos += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + pos, 8);
        if (const std::uint64_t special = (word & kHighs) | zeroBytes(word ^ ends) | zeroBytes(word ^ backslashes))
            return pos + static_cast<std::size_t>(std::countr_zero(special)) / 8;
    }
    for (; pos < s.size(); ++pos) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c == static_cast<unsigned char>(end) || c == '\\' || c >= 0x80) return pos;
    }
    return pos;
}

// Checks escaped text as Decode reads it, without keeping it: the common characters are
// stepped over, and only raw UTF-8 is decoded.
std::size_t SkipEscaped(std::string_view s, std::size_t pos, char end, std::string& why) {
    const auto stop = static_cast<unsigned char>(end);
    while ((pos = FindSpecial(s, pos, end)) < s.size()) {
        const auto c = static_cast<unsigned char>(s[pos]);
        if (c == stop) return pos + 1;
        if (c == '\\') {
            if (pos + 1 >= s.size()) break;
            if (static_cast<unsigned char>(s[pos + 1]) < 0x80) {
                pos += 2;
                continue;
            }
            ++pos;  // an escaped UTF-8 character stands for itself
        }
        char32_t cp = 0;
        if (!text::DecodeUtf8(s, pos, cp)) {
            why = "text that is not valid UTF-8";
            return std::string_view::npos;
        }
    }
    why = std::string("text without its closing ") + end;
    return std::string_view::npos;
}

void AppendUtf16Bytes(std::string& out, std::u16string_view units) {
    for (char16_t u : units) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
}

// Short prefixes, on every line: compared in place rather than through memcmp.
bool StartsWith(std::string_view s, std::size_t pos, std::string_view prefix) {
    if (s.size() - pos < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (s[pos + i] != prefix[i]) return false;
    return true;
}

// Hex bytes separated by commas, continued on the next line after a backslash (Wine's parse_hex
// and the loop around it in load_value).
bool ParseHexData(Lines* lines, std::string_view line, std::size_t pos, std::string* data,
                  std::string& why) {
    for (;;) {
        while (pos < line.size() && HexDigit(line[pos]) >= 0) {
            unsigned value = 0;
            while (pos < line.size() && HexDigit(line[pos]) >= 0) {
                value = value * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
                if (value > 0xFF) {
                    why = "a hex byte greater than ff";
                    return false;
                }
            }
            if (data) data->push_back(static_cast<char>(value));
            pos = SkipSpace(line, pos);
            if (pos < line.size() && line[pos] == ',') ++pos;
            pos = SkipSpace(line, pos);
        }
        pos = SkipSpace(line, pos);
        if (pos == line.size()) return true;
        if (line[pos] != '\\') {
            why = "hex data with an unexpected character";
            return false;
        }
        if (!lines || !lines->Next(line)) {
            why = "hex data that continues past the end of the file";
            return false;
        }
        pos = SkipSpace(line, 0);
    }
}

// One value line (and its continuation lines), as Wine's load_value reads it.
// With keep false the value is only checked: its name and data are not filled in.
bool ParseValue(Lines* lines, std::string_view line, Value& value, bool keep, std::string& why) {
    value.data.clear();
    std::size_t pos = 0;
    if (line[0] == '@') {
        value.name.clear();
        pos = 1;
    } else {
        pos = keep ? Unescape(line, 1, '"', value.name, why) : SkipEscaped(line, 1, '"', why);
        if (pos == std::string_view::npos) return false;
    }
    pos = SkipSpace(line, pos);
    if (pos >= line.size() || line[pos] != '=') {
        why = "a value name without '=' after it";
        return false;
    }
    pos = SkipSpace(line, pos + 1);

    struct StringForm { std::string_view tag; DWORD type; };
    static constexpr StringForm kStrings[] = {
        {"\"", kRegSz}, {"str:\"", kRegSz}, {"str(2):\"", kRegExpandSz}, {"str(7):\"", kRegMultiSz}};
    for (const StringForm& form : kStrings) {
        if (!StartsWith(line, pos, form.tag)) continue;
        value.type = form.type;
        std::u16string units;
        pos = keep ? Unescape(line, pos + form.tag.size(), '"', units, why)
                   : SkipEscaped(line, pos + form.tag.size(), '"', why);
        if (pos == std::string_view::npos) return false;
        if (!OnlySpaceFrom(line, pos)) {
            why = "unexpected text after a string value";
            return false;
        }
        if (keep) {
            units.push_back(0);
            AppendUtf16Bytes(value.data, units);
        }
        return true;
    }
    if (StartsWith(line, pos, "dword:")) {
        pos += 6;
        std::uint64_t number = 0;
        const std::size_t first = pos;
        while (pos < line.size() && HexDigit(line[pos]) >= 0) {
            number = number * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
            if (number > 0xFFFFFFFFull) {
                why = "a dword value greater than ffffffff";
                return false;
            }
        }
        if (pos == first || !OnlySpaceFrom(line, pos)) {
            why = "a dword value that is not hex digits";
            return false;
        }
        value.type = kRegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
        return true;
    }
    if (StartsWith(line, pos, "hex:")) {
        value.type = kRegBinary;
        return ParseHexData(lines, line, pos + 4, keep ? &value.data : nullptr, why);
    }
    if (StartsWith(line, pos, "hex(")) {
        pos += 4;
        std::uint64_t type = 0;
        const std::size_t first = pos;
        while (pos < line.size() && HexDigit(line[pos]) >= 0 && pos - first < 8)
            type = type * 16 + static_cast<unsigned>(HexDigit(line[pos++]));
        if (pos == first || !StartsWith(line, pos, "):")) {
            why = "a value type hex(...) that is not a hex number";
            return false;
        }
        value.type = static_cast<DWORD>(type);
        return ParseHexData(lines, line, pos + 2, keep ? &value.data : nullptr, why);
    }
    why = "a value of unknown type";
    return false;
}

// Adds a value, or replaces the one of the same name (a name given twice: the later wins, in
// the earlier one's place, as in Wine).
class ValueSet {
public:
    explicit ValueSet(std::vector<Value>& values) : values_(values) {}

    void Put(const Value& value) {
        const std::u16string key = text::FoldWine(value.name);
        if (values_.size() < kIndexFrom) {
            for (Value& existing : values_)
                if (text::NamesEqual(existing.name, value.name)) return Replace(existing, value);
        } else {
            if (index_.empty())
                for (std::size_t i = 0; i < values_.size(); ++i) index_.emplace(text::FoldWine(values_[i].name), i);
            if (auto it = index_.find(key); it != index_.end()) return Replace(values_[it->second], value);
            index_.emplace(key, values_.size());
        }
        values_.push_back(value);
    }

private:
    static constexpr std::size_t kIndexFrom = 16;

    static void Replace(Value& existing, const Value& value) {
        existing.type = value.type;
        existing.data = value.data;
    }
    std::vector<Value>& values_;
    std::unordered_map<std::u16string, std::size_t> index_;
};

std::string_view TrimLeft(std::string_view line) { return line.substr(SkipSpace(line, 0)); }

// The #time option's FILETIME: the hex digits after "#time=" (Wine's load_key_option).
std::uint64_t OptionTime(std::string_view line) {
    std::uint64_t time = 0;
    for (std::size_t pos = 6; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos)
        time = (time << 4) | static_cast<unsigned>(HexDigit(line[pos]));
    return time;
}

// Two names the same: the common case of the same bytes quickly, else letter case aside.
bool SameName(NameView a, NameView b) {
    if (a.size() != b.size()) return false;
    if (a.narrow() && b.narrow()) {
        const char* x = a.NarrowBytes();
        const char* y = b.NarrowBytes();
        std::size_t i = 0;
        for (; i + 8 <= a.size(); i += 8) {
            std::uint64_t wx, wy;
            std::memcpy(&wx, x + i, 8);
            std::memcpy(&wy, y + i, 8);
            if (wx != wy) return NamesEqual(a, b);
        }
        for (; i < a.size(); ++i)
            if (x[i] != y[i]) return NamesEqual(a, b);
        return true;
    }
    return NamesEqual(a, b);
}

// The loader's walk through one file.
class Loader {
public:
    Loader(Tree& tree, Hive hive, std::string_view text) : tree_(tree), text_(text), lines_(text) {
        stack_.push_back(&tree.Root(hive));
    }

    bool Run(LoadedFile& loaded, FileProblem& problem) {
        if (const void* nul = std::memchr(text_.data(), 0, text_.size())) {
            const auto offset = static_cast<std::size_t>(static_cast<const char*>(nul) - text_.data());
            problem.line = 1 + static_cast<std::size_t>(std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
            problem.what = "a NUL byte, which a registry file never holds";
            return false;
        }
        std::string_view line;
        if (!lines_.Next(line) || line != kSignature) {
            problem = {1, "the first line is not \"WINE REGISTRY Version 2\": this is not a Wine registry file"};
            return false;
        }
        headerEnd_ = lines_.End();
        while (lines_.Next(line)) {
            line = TrimLeft(line);
            if (line.empty()) continue;
            if (!Line(line, loaded)) {
                problem = {lines_.Number(), why_};
                return false;
            }
        }
        if (!FinishBlock()) {
            problem = {lines_.Number(), why_};
            return false;
        }
        SortUnsorted();
        loaded.header = text_.substr(0, headerEnd_);
        return true;
    }

private:
    bool Fail(std::string why) {
        why_ = std::move(why);
        return false;
    }

    bool Line(std::string_view line, LoadedFile& loaded) {
        switch (line[0]) {
            case '[': return KeyLine(line);
            case '@':
            case '"': return ValueLine(line);
            case '#': return current_ ? KeyOption(line) : GlobalOption(line, loaded);
            case ';':
                Extend();
                return true;
            default: return Fail("a line that is neither a key, a value, an option nor a comment");
        }
    }

    // The current block, or before any key the header, reaches to the end of this line.
    void Extend() { (current_ ? blockEnd_ : headerEnd_) = lines_.End(); }

    bool GlobalOption(std::string_view line, LoadedFile& loaded) {
        if (StartsWith(line, 0, "#arch=")) {
            std::string_view arch = line.substr(6);
            while (!arch.empty() && IsSpace(arch.back())) arch.remove_suffix(1);
            if (arch != "win32" && arch != "win64") return Fail("an #arch option that is neither win32 nor win64");
            loaded.arch = std::string(arch);
        }
        Extend();
        return true;
    }

    bool KeyLine(std::string_view line) {
        if (!FinishBlock()) return false;
        std::size_t pos = 0;
        if (!SplitPlainPath(line, pos)) {
            pos = Unescape(line, 1, ']', path_, why_);
            if (pos == std::string_view::npos) return false;
            SplitUnescapedPath();
        }
        pos = SkipSpace(line, pos);
        std::uint64_t seconds = 0;
        bool hasSeconds = false;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
            seconds = seconds * 10 + static_cast<unsigned>(line[pos++] - '0');
            if (seconds > 0xFFFFFFFFull) return Fail("a key time that is not a 32-bit number");
            hasSeconds = true;
        }
        if (!OnlySpaceFrom(line, pos)) return Fail("unexpected text after the key name");
        Key* key = Walk();
        if (!key) return false;
        current_ = key;
        blockStart_ = lines_.Start();
        blockEnd_ = lines_.End();
        sawValue_ = false;
        merging_ = key->hasBlock || key->changed;
        if (merging_) {
            // The key was given twice: Wine merges the two, so write it anew when it is saved.
            tree_.Change(*key);
            if (hasSeconds) tree_.SetTime(*key, seconds * kTicksPerSecond + kTicksTo1970);
        } else {
            const char* block = text_.data() + blockStart_;
            tree_.SetBlock(*key, block, parts_.empty() ? NameView::Narrow(block, 0) : parts_.back());
        }
        return true;
    }

    // The common key line, whose path needs no unescaping: only "\\" between plain ASCII
    // names. Its names are taken as they stand in the text. False for any other line.
    bool SplitPlainPath(std::string_view line, std::size_t& pos) {
        parts_.clear();
        std::size_t start = 1;
        for (std::size_t i = FindSpecial(line, 1, ']'); i < line.size(); i = FindSpecial(line, i, ']')) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c == ']') {
                AddPart(line, start, i);
                pos = i + 1;
                return true;
            }
            if (c >= 0x80 || i + 1 >= line.size() || line[i + 1] != '\\') return false;
            AddPart(line, start, i);
            i += 2;
            start = i;
        }
        return false;
    }

    void AddPart(std::string_view line, std::size_t start, std::size_t end) {
        if (end > start) parts_.push_back(NameView::Narrow(line.data() + start, end - start));
    }

    // The names of an unescaped path; empty ones (doubled, leading or trailing backslashes)
    // are skipped, as Wine's server does.
    void SplitUnescapedPath() {
        parts_.clear();
        const std::u16string_view path = path_;
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t end = path.find(u'\\', start);
            if (end == std::u16string_view::npos) end = path.size();
            if (end > start) parts_.push_back(NameView(path.substr(start, end - start)));
            start = end + 1;
        }
    }

    // Finds or creates the key of the path just split; the previous block's path is reused,
    // since files list keys in tree order.
    Key* Walk() {
        std::size_t depth = 0;
        for (const NameView part : parts_) {
            if (part.size() > kMaxNameLength) {
                Fail("a key name longer than 255 characters");
                return nullptr;
            }
            if (stack_.size() > depth + 1 && SameName(tree_.Name(*stack_[depth + 1]), part)) {
                ++depth;
                continue;
            }
            stack_.resize(depth + 1);
            stack_.push_back(&ChildOf(*stack_[depth], part));
            ++depth;
        }
        stack_.resize(depth + 1);
        return stack_.back();
    }

    // The subkey of this name, created when missing. Siblings come in order in any file Wine
    // wrote; a long list given out of order is appended to and sorted once the file is read,
    // so that such a file cannot make the load quadratic.
    Key& ChildOf(Key& parent, NameView name) {
        auto unsorted = unsorted_.empty() ? unsorted_.end() : unsorted_.find(&parent);
        if (unsorted == unsorted_.end()) {
            const std::size_t count = parent.subkeyCount;
            const int order = count ? CompareNames(tree_.Name(*parent.subkeyData[count - 1]), name) : -1;
            if (order < 0) return tree_.InsertChild(parent, count, name);
            if (order == 0) return *parent.subkeyData[count - 1];
            if (Key* existing = tree_.FindChild(parent, name)) return *existing;
            if (count < kSortedInsertLimit) {
                const auto subs = parent.Subkeys();
                const auto at = std::lower_bound(subs.begin(), subs.end(), name, [this](const Key* k, NameView n) {
                    return CompareNames(tree_.Name(*k), n) < 0;
                });
                return tree_.InsertChild(parent, static_cast<std::size_t>(at - subs.begin()), name);
            }
            unsorted = unsorted_.emplace(&parent, std::unordered_map<std::u16string, Key*>()).first;
            for (Key* sub : parent.Subkeys()) unsorted->second.emplace(Folded(tree_.Name(*sub)), sub);
        }
        std::u16string folded = Folded(name);
        if (auto it = unsorted->second.find(folded); it != unsorted->second.end()) return *it->second;
        Key& key = tree_.InsertChild(parent, parent.subkeyCount, name);
        unsorted->second.emplace(std::move(folded), &key);
        return key;
    }

    static std::u16string Folded(NameView name) { return text::FoldWine(name.ToU16()); }

    void SortUnsorted() {
        for (auto& [parent, names] : unsorted_) tree_.SortSubkeys(*parent);
        unsorted_.clear();
    }

    bool ValueLine(std::string_view line) {
        if (!current_) return Fail("a value before the first key");
        if (!ParseValue(&lines_, line, scratch_, merging_, why_)) return false;
        blockEnd_ = lines_.End();
        sawValue_ = true;
        if (merging_) ValueSet(tree_.Change(*current_)).Put(scratch_);
        return true;
    }

    bool KeyOption(std::string_view line) {
        blockEnd_ = lines_.End();
        if (StartsWith(line, 0, "#time=")) {
            if (sawValue_) current_->lateOptions = true;
            if (merging_) tree_.SetTime(*current_, OptionTime(line));
        } else if (StartsWith(line, 0, "#class=")) {
            if (sawValue_) current_->lateOptions = true;
            if (line.size() < 8 || line[7] != '"') return Fail("a #class option without its quoted text");
            if (merging_) {
                std::u16string cls;
                if (Unescape(line, 8, '"', cls, why_) == std::string_view::npos) return false;
                tree_.SetClassName(*current_, std::move(cls));
            } else if (SkipEscaped(line, 8, '"', why_) == std::string_view::npos) {
                return false;
            }
        } else if (StartsWith(line, 0, "#link")) {
            current_->link = true;
        }
        return true;  // other options are Wine's to ignore
    }

    bool FinishBlock() {
        if (!current_ || merging_) return true;
        if (blockEnd_ - blockStart_ > 0xFFFFFFFFu) return Fail("a key block larger than 4 GB");
        Tree::SetRawSize(*current_, static_cast<std::uint32_t>(blockEnd_ - blockStart_));
        return true;
    }

    Tree& tree_;
    std::string_view text_;
    Lines lines_;
    std::vector<Key*> stack_;
    std::vector<NameView> parts_;
    Key* current_ = nullptr;
    bool merging_ = false;
    bool sawValue_ = false;
    std::size_t blockStart_ = 0, blockEnd_ = 0, headerEnd_ = 0;
    static constexpr std::size_t kSortedInsertLimit = 256;
    std::unordered_map<Key*, std::unordered_map<std::u16string, Key*>> unsorted_;
    Value scratch_;
    std::u16string path_;
    std::string why_;
};

void AppendHex(std::string& out, std::uint64_t value, int minDigits) {
    char buffer[20];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    for (auto digits = result.ptr - buffer; digits < minDigits; ++digits) out.push_back('0');
    out.append(buffer, result.ptr);
}

void AppendDecimal(std::string& out, std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendOctal(std::string& out, unsigned value, int minDigits) {
    char buffer[12];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 8);
    for (auto digits = result.ptr - buffer; digits < minDigits; ++digits) out.push_back('0');
    out.append(buffer, result.ptr);
}

std::u16string_view Units(const std::string& bytes, std::u16string& storage) {
    storage.clear();
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        storage.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                static_cast<unsigned char>(bytes[i + 1]) << 8));
    return storage;
}

}  // namespace

bool LoadHiveFile(Tree& tree, Hive hive, std::string_view text, LoadedFile& loaded,
                  FileProblem& problem) {
    Loader loader(tree, hive, text);
    return loader.Run(loaded, problem);
}

void ParseBlockValues(std::string_view block, std::vector<Value>& values) {
    Lines lines(block);
    std::string_view line;
    lines.Next(line);  // the key line
    ValueSet set(values);
    Value value;
    std::string why;
    while (lines.Next(line)) {
        line = TrimLeft(line);
        if (line.empty() || (line[0] != '@' && line[0] != '"')) continue;
        if (ParseValue(&lines, line, value, true, why)) set.Put(value);
    }
}

namespace {

// Visits the block's option lines (after trimming): those before the first value, or with
// wholeBlock every one. The key line is not visited.
template <typename Visit>
void ForEachOption(std::string_view block, bool wholeBlock, Visit visit) {
    Lines lines(block);
    std::string_view line;
    lines.Next(line);
    while (lines.Next(line)) {
        line = TrimLeft(line);
        if (line.empty()) continue;
        if (line[0] == '#') visit(line);
        else if ((line[0] == '"' || line[0] == '@') && !wholeBlock) return;
    }
}

}  // namespace

std::optional<std::uint64_t> BlockTime(std::string_view block, bool wholeBlock) {
    std::optional<std::uint64_t> time;
    ForEachOption(block, wholeBlock, [&time](std::string_view line) {
        if (StartsWith(line, 0, "#time=")) time = OptionTime(line);
    });
    if (time) return time;
    // The key line's seconds, after the name and its closing bracket.
    const std::string_view keyLine = TrimLeft(block.substr(0, block.find('\n')));
    std::string why;
    std::size_t pos = SkipEscaped(keyLine, 1, ']', why);
    if (pos == std::string_view::npos) return std::nullopt;
    pos = SkipSpace(keyLine, pos);
    if (pos >= keyLine.size() || keyLine[pos] < '0' || keyLine[pos] > '9') return std::nullopt;
    std::uint64_t seconds = 0;
    while (pos < keyLine.size() && keyLine[pos] >= '0' && keyLine[pos] <= '9')
        seconds = seconds * 10 + static_cast<unsigned>(keyLine[pos++] - '0');
    return seconds * kTicksPerSecond + kTicksTo1970;
}

std::optional<std::u16string> BlockClass(std::string_view block, bool wholeBlock) {
    std::optional<std::u16string> className;
    ForEachOption(block, wholeBlock, [&className](std::string_view line) {
        if (!StartsWith(line, 0, "#class=\"")) return;
        std::u16string units;
        std::string why;
        if (Unescape(line, 8, '"', units, why) != std::string_view::npos) className = std::move(units);
    });
    return className;
}

void AppendEscaped(std::string& out, std::u16string_view units, std::string_view extraEscapes) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        const bool hasNext = i + 1 < units.size();
        const char16_t next = hasNext ? units[i + 1] : 0;
        if (c > 0x7F) {
            out += "\\x";
            const bool nextIsHex = hasNext && next < 0x80 && HexDigit(static_cast<char>(next)) >= 0;
            AppendHex(out, c, nextIsHex ? 4 : 1);
        } else if (c < 0x20) {
            out.push_back('\\');
            switch (c) {
                case 7: out.push_back('a'); break;
                case 8: out.push_back('b'); break;
                case 9: out.push_back('t'); break;
                case 10: out.push_back('n'); break;
                case 11: out.push_back('v'); break;
                case 12: out.push_back('f'); break;
                case 13: out.push_back('r'); break;
                case 27: out.push_back('e'); break;
                default: AppendOctal(out, c, hasNext && next >= u'0' && next <= u'7' ? 3 : 1);
            }
        } else {
            const char a = static_cast<char>(c);
            if (a == '\\' || extraEscapes.find(a) != std::string_view::npos) out.push_back('\\');
            out.push_back(a);
        }
    }
}

void AppendValueLine(std::string& out, const Value& value) {
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += "@=";
    } else {
        out.push_back('"');
        AppendEscaped(out, value.name, "\"");
        out += "\"=";
    }
    const std::size_t size = value.data.size();
    switch (value.type) {
        case kRegSz:
        case kRegExpandSz:
        case kRegMultiSz:
            // Only a properly terminated string is written as text.
            if (size >= 2 && size % 2 == 0 && value.data[size - 1] == 0 && value.data[size - 2] == 0) {
                if (value.type != kRegSz) {
                    out += "str(";
                    AppendHex(out, value.type, 1);
                    out += "):";
                }
                std::u16string storage;
                std::u16string_view units = Units(value.data, storage);
                out.push_back('"');
                AppendEscaped(out, units.substr(0, units.size() - 1), "\"");
                out += "\"\n";
                return;
            }
            break;
        case kRegDword:
            if (size == 4) {
                hexdata::AppendDword(out, value.data);
                out.push_back('\n');
                return;
            }
            break;
        default: break;
    }
    hexdata::AppendHexPrefix(out, value.type);
    hexdata::AppendHexBytes(out, out.size() - lineStart, value.data, "\n");
    out.push_back('\n');
}

void AppendKeyBlock(std::string& out, const Tree& tree, const Key& key, std::vector<const Key*>& chain) {
    chain.clear();
    for (const Key* k = &key; k->parent; k = k->parent) chain.push_back(k);
    out.push_back('[');
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += "\\\\";
        AppendEscaped(out, tree.Name(**it).ToU16(), "[]");
    }
    out += "] ";
    const std::uint64_t time = tree.Time(key);
    const auto seconds = (static_cast<std::int64_t>(time) - static_cast<std::int64_t>(kTicksTo1970)) /
                         static_cast<std::int64_t>(kTicksPerSecond);
    AppendDecimal(out, static_cast<std::uint32_t>(seconds));
    out += "\n#time=";
    AppendHex(out, time >> 32, 1);
    AppendHex(out, time & 0xFFFFFFFFu, 8);
    out.push_back('\n');
    if (const std::optional<std::u16string> className = tree.ClassName(key)) {
        out += "#class=\"";
        AppendEscaped(out, *className, "\"");
        out += "\"\n";
    }
    if (key.link) out += "#link\n";
    for (const Value& value : tree.Values(key)) AppendValueLine(out, value);
}

void WriteHiveFile(Tree& tree, Hive hive, std::string_view header, std::string& out,
                   const std::function<void(std::string&)>& flush) {
    out.append(header);
    std::vector<const Key*> chain;
    std::vector<const Key*> pending{&tree.Root(hive)};
    while (!pending.empty()) {
        const Key& key = *pending.back();
        pending.pop_back();
        if (key.changed) {
            // Wine writes a key that has values, or no subkeys, or a class, or is a link; any
            // other key exists only through its subkeys.
            if (!tree.Values(key).empty() || key.subkeyCount == 0 || key.link || tree.ClassName(key)) {
                out.push_back('\n');
                AppendKeyBlock(out, tree, key, chain);
            }
        } else if (key.hasBlock) {
            const std::string_view raw = key.Raw();
            out.push_back('\n');
            out.append(raw);
            if (raw.empty() || raw.back() != '\n') out.push_back('\n');
        }
        const auto subs = key.Subkeys();
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) pending.push_back(*it);
        if (out.size() >= kFlushSize) flush(out);
    }
    flush(out);
}

}  // namespace platform::detail
