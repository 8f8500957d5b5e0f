#include "platform/wine/wine_reg_file.h"

#include "platform/registry/text.h"
#include "platform/registry/wine_syntax.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace platform::detail {
namespace {

constexpr std::string_view kSignature = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxNameLength = 255;  // Wine refuses longer key names
constexpr std::size_t kFlushSize = 1 << 20;

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

}  // namespace

bool LoadHiveFile(Tree& tree, Hive hive, std::string_view text, LoadedFile& loaded,
                  FileProblem& problem) {
    Loader loader(tree, hive, text);
    return loader.Run(loaded, problem);
}

namespace {

void AppendKeyBlock(std::string& out, const Tree& tree, const Key& key, std::vector<const Key*>& chain) {
    chain.clear();
    for (const Key* k = &key; k->parent; k = k->parent) chain.push_back(k);
    out.push_back('[');
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) out += "\\\\";
        AppendEscaped(out, tree.Name(**it).ToU16(), "[]");
    }
    out.push_back(']');
    AppendKeyTimes(out, tree.Time(key));
    if (const std::optional<std::u16string> className = tree.ClassName(key)) AppendClassOption(out, *className);
    if (key.link) out += "#link\n";
    for (const Value& value : tree.Values(key)) AppendValueLine(out, value);
}

}  // namespace

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
