#include "cleaner/unattended/unattended.h"

#include "cleaner/registry/backup_format.h"
#include "cleaner/registry/case_fold.h"
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/run/run.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/startup/store_commit.h"
#include "cleaner/unattended/console_window.h"
#include "cleaner/unattended/dry_run_registry.h"
#include "cleaner/unattended/restore.h"
#include "platform/registry/memory_registry.h"
#include "platform/registry/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

namespace cleaner {
namespace {

constexpr int kDone = 0;
constexpr int kNothingDone = 1;
constexpr int kDoneWithReports = 2;

std::string Utf8OfRegistryText(const std::string& narrow) {
    return platform::text::Utf16ToUtf8(platform::text::FromCp1252(narrow));
}

// --- The backup's files, watched: every block the removal writes names the key it is about to
// delete (its tree's subkeys come first, the key itself last), so what the run took is read from
// what it wrote, not guessed beside it.

class MemoryWriter : public platform::FileWriter {
public:
    bool Write(std::string_view data, std::string&) override {
        size_ += data.size();
        return true;
    }
    std::uint64_t Size() const override { return size_; }
    bool Close(std::string&) override { return true; }

private:
    std::uint64_t size_ = 0;
};

class WatchedFiles : public platform::BackupFiles {
public:
    // inner null: nothing reaches a disc (the preview); each file starts empty and missing.
    explicit WatchedFiles(platform::BackupFiles* inner) : inner_(inner) {}

    bool Look(const std::string& path, platform::PathFacts& facts, std::string& reason) override {
        if (inner_ != nullptr) return inner_->Look(path, facts, reason);
        facts = platform::PathFacts{};
        facts.file = path;
        return true;
    }
    bool ReadStart(const std::string& path, std::size_t limit, std::string& bytes,
                   std::string& reason) override {
        if (inner_ != nullptr) return inner_->ReadStart(path, limit, bytes, reason);
        bytes.clear();
        return true;
    }
    bool Rename(const std::string& from, const std::string& to, std::string& reason) override {
        if (inner_ == nullptr) return true;
        const bool renamed = inner_->Rename(from, to, reason);
        if (renamed) keptAside_ = to;  // the only rename the backup makes keeps a file aside
        return renamed;
    }
    bool Remove(const std::string& path, std::string& reason) override {
        if (inner_ == nullptr) return true;
        return inner_->Remove(path, reason);
    }
    std::unique_ptr<platform::FileWriter> Create(const std::string& path,
                                                 std::string& reason) override {
        return Watch(inner_ != nullptr ? inner_->Create(path, reason)
                                       : std::make_unique<MemoryWriter>());
    }
    std::unique_ptr<platform::FileWriter> Append(const std::string& path,
                                                 std::string& reason) override {
        return Watch(inner_ != nullptr ? inner_->Append(path, reason)
                                       : std::make_unique<MemoryWriter>());
    }

    bool Opened() const { return opened_; }
    const std::vector<std::string>& Blocks() const { return blocks_; }
    const std::optional<std::string>& KeptAside() const { return keptAside_; }

private:
    class Writer : public platform::FileWriter {
    public:
        Writer(std::unique_ptr<platform::FileWriter> inner, std::vector<std::string>& blocks)
            : inner_(std::move(inner)), blocks_(blocks) {}
        bool Write(std::string_view data, std::string& reason) override {
            if (!inner_->Write(data, reason)) return false;
            if (data != kBackupFileHeader) blocks_.emplace_back(data);
            return true;
        }
        std::uint64_t Size() const override { return inner_->Size(); }
        bool Close(std::string& reason) override { return inner_->Close(reason); }

    private:
        std::unique_ptr<platform::FileWriter> inner_;
        std::vector<std::string>& blocks_;
    };

    std::unique_ptr<platform::FileWriter> Watch(std::unique_ptr<platform::FileWriter> writer) {
        if (writer == nullptr) return nullptr;
        opened_ = true;
        return std::make_unique<Writer>(std::move(writer), blocks_);
    }

    platform::BackupFiles* inner_;
    bool opened_ = false;
    std::vector<std::string> blocks_;
    std::optional<std::string> keptAside_;
};

// The key a block saves (its last key line) and the number of keys in its tree.
struct BlockKey {
    std::string key;  // registry code page
    int tree = 0;
};
BlockKey KeyOfBlock(const std::string& block) {
    BlockKey found;
    std::size_t at = 0;
    while (at < block.size()) {
        std::size_t end = block.find("\r\n", at);
        if (end == std::string::npos) end = block.size();
        if (end - at >= 2 && block[at] == '[' && block[end - 1] == ']') {
            found.key = block.substr(at + 1, end - at - 2);
            ++found.tree;
        }
        at = end + 2;
    }
    return found;
}

// The trees the removal kept because the backup could not hold them exactly: one report per
// removal operation names them, one a line, between its first line and its advice.
constexpr const char* kKeptReportStart = "These keys were not deleted:";
constexpr const char* kKeptReportAdvice = "Remove them with";
constexpr const char* kKeptReason =
    "names or text in its tree hold characters outside the Windows-1252 code page, or key names "
    "hold line breaks: the backup file cannot hold them exactly";

std::vector<std::string> KeptKeysOf(const std::string& report) {
    std::vector<std::string> keys;
    if (report.rfind(kKeptReportStart, 0) != 0) return keys;
    std::size_t at = report.find('\n');
    while (at != std::string::npos) {
        const std::size_t next = report.find('\n', at + 1);
        std::string line = report.substr(at + 1, next == std::string::npos ? std::string::npos
                                                                             : next - at - 1);
        if (line.rfind(kKeptReportAdvice, 0) == 0) break;
        if (!line.empty()) keys.push_back(std::move(line));
        at = next;
    }
    return keys;
}

// Whether the key (as the backup names it) is still in the registry.
bool StillThere(platform::RegistryApi& registry, const std::string& key) {
    const std::pair<const char*, platform::HKEY> roots[] = {
        {"HKEY_CLASSES_ROOT", platform::kHkeyClassesRoot},
        {"HKEY_CURRENT_USER", platform::kHkeyCurrentUser},
        {"HKEY_LOCAL_MACHINE", platform::kHkeyLocalMachine},
    };
    for (const auto& [name, root] : roots) {
        const std::string prefix = std::string(name) + "\\";
        if (key.rfind(prefix, 0) != 0) continue;
        platform::HKEY handle = 0;
        constexpr platform::DWORD kKeyRead = 0x20019;
        if (registry.RegOpenKeyExA(root, key.c_str() + prefix.size(), 0, kKeyRead, &handle) !=
            platform::kErrorSuccess) {
            return false;
        }
        registry.RegCloseKey(handle);
        return true;
    }
    return false;
}

// The preview's registry: the real one, read as the run reads it, whose changes are never
// saved, so that what the run lists is what it would delete. A prefix's store is a copy in
// memory that is left unsaved; a registry whose deletes last at once (Windows' own) is seen
// through a DryRunRegistry, which only remembers them.
class UnsavedStore : public RegistryStore {
public:
    explicit UnsavedStore(RegistryStore& inner) : inner_(inner) {
        if (dynamic_cast<platform::MemoryRegistry*>(&inner_.Registry()) == nullptr) {
            dryRun_ = std::make_unique<DryRunRegistry>(inner_.Registry());
        }
    }
    platform::RegistryApi& Registry() override {
        return dryRun_ ? static_cast<platform::RegistryApi&>(*dryRun_) : inner_.Registry();
    }
    void Refresh() override { inner_.Refresh(); }
    bool HasChanges() const override { return false; }
    void Save() override {}

private:
    RegistryStore& inner_;
    std::unique_ptr<DryRunRegistry> dryRun_;
};

bool Starts(const std::vector<std::string>& texts, const char* text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void WriteLine(StartupPlatform& platform, const std::string& text) {
    platform.WriteError("sorvel: " + text + "\n");
}

// The outcome as lines on standard output: one per key.
std::string OutcomeLines(const UnattendedOutcome& outcome) {
    std::string out;
    for (const KeyOutcome& key : outcome.keys) {
        out += key.state + " " + key.key;
        if (key.tree > 0) {
            out += " (" + std::to_string(key.tree) + (key.tree == 1 ? " key)" : " keys)");
        }
        if (!key.reason.empty()) out += ": " + key.reason;
        out += "\n";
    }
    return out;
}

UnattendedOutcome Run(StartupPlatform& platform, const UnattendedOptions& options) {
    UnattendedOutcome outcome;
    const bool preview = options.mode == UnattendedOptions::Mode::Preview;
    outcome.mode = preview ? "preview" : "clean";
    outcome.registry = platform.RegistryName();
    const auto report = [&](const std::string& text) {
        outcome.reports.push_back(text);
        WriteLine(platform, text);
    };

    std::unique_ptr<RegistryStore> opened;
    try {
        opened = platform.OpenRegistry();
    } catch (const std::exception& refusal) {
        report(std::string(refusal.what()) + "\nNothing was deleted.");
        outcome.exit = kNothingDone;
        return outcome;
    }
    UnsavedStore unsaved(*opened);
    RegistryStore& store = preview ? static_cast<RegistryStore&>(unsaved) : *opened;

    ConsoleSinks sinks;
    // A preview's status lines would tell of removals that never happen.
    if (!preview) sinks.status = [&](const std::string& text) { WriteLine(platform, text); };
    sinks.report = [&](const std::string& text) { WriteLine(platform, text); };
    ConsoleWindow window({options.keywords, options.backup, options.keys, options.settings},
                         std::move(sinks));
    StoreCommit commit(store,
                       [&](const std::string& failure) { window.ShowPlatformMessage(failure); });
    WatchedFiles files(preview ? nullptr : &platform.BackupFiles());
    modRegFuncs reg(store.Registry(), window);
    modFennick fennick(reg, window);
    fennick.UseBackupFiles(files);
    fennick.UseRegistryCommit(&commit);
    FennickRun run(fennick, window);
    run.UseStore(commit);
    window.Attach(run);

    const int ended = window.Exec();
    const bool saved = commit.Save();
    outcome.reports.insert(outcome.reports.end(), window.Reports().begin(),
                           window.Reports().end());

    for (const std::string& block : files.Blocks()) {
        const BlockKey found = KeyOfBlock(block);
        if (found.key.empty()) continue;
        KeyOutcome key{Utf8OfRegistryText(found.key), "", found.tree, ""};
        const bool seen = std::any_of(outcome.keys.begin(), outcome.keys.end(),
                                      [&](const KeyOutcome& k) { return k.key == key.key; });
        if (seen) continue;  // a second pass over a key that came back
        if (StillThere(store.Registry(), found.key)) {
            key.state = "failed";
            key.reason = "it is in the backup file, but its delete failed (see the reports)";
        } else {
            key.state = preview ? "found" : "removed";
        }
        outcome.keys.push_back(std::move(key));
    }
    bool kept = false;
    for (const std::string& text : window.Reports()) {
        for (std::string& name : KeptKeysOf(text)) {
            outcome.keys.push_back({std::move(name), "kept", 0, kKeptReason});
            kept = true;
        }
    }
    if (!preview && files.Opened()) outcome.backup = options.backup;
    outcome.keptAside = files.KeptAside();

    const std::vector<std::string>& status = window.StatusTexts();
    const bool searched = Starts(status, runtext::kSearchStarted);
    const bool removing = Starts(status, runtext::kRemoveKeysStarted) ||
                          Starts(status, runtext::kRemoveSettingsStarted);
    const bool begun = removing && files.Opened();
    // A keyword file that could not be read is told in the status field alone; a script needs
    // it among the reports.
    if (options.keys && !searched && !status.empty()) {
        outcome.reports.push_back(status.back());
        if (preview) WriteLine(platform, status.back());
    }
    const bool refused = ended != 0 || (options.keys && !searched) || !begun;
    const bool took = std::any_of(outcome.keys.begin(), outcome.keys.end(),
                                  [](const KeyOutcome& k) { return k.state != "kept"; });
    const bool failed = std::any_of(outcome.keys.begin(), outcome.keys.end(),
                                    [](const KeyOutcome& k) { return k.state == "failed"; });
    if (!saved || (refused && !took)) {
        outcome.exit = kNothingDone;  // refused, a file not read, the backup not begun, not kept
    } else if (!outcome.reports.empty() || kept || failed || refused) {
        outcome.exit = kDoneWithReports;
    } else {
        outcome.exit = kDone;
    }
    return outcome;
}


// Reads the value back as the narrow functions give it.
bool ReadBack(platform::RegistryApi& registry, platform::HKEY key, const RegFileValue& value) {
    platform::DWORD type = 0;
    platform::DWORD size = 0;
    if (registry.RegQueryValueExA(key, value.name.c_str(), nullptr, &type, nullptr, &size) !=
        platform::kErrorSuccess) {
        return false;
    }
    std::string bytes(size, '\0');
    if (registry.RegQueryValueExA(key, value.name.c_str(), nullptr, &type,
                                  reinterpret_cast<unsigned char*>(bytes.data()), &size) !=
        platform::kErrorSuccess) {
        return false;
    }
    bytes.resize(size);
    return type == value.type && bytes == value.bytes;
}

UnattendedOutcome Restore(StartupPlatform& platform, const UnattendedOptions& options) {
    UnattendedOutcome outcome;
    outcome.mode = "restore";
    outcome.registry = platform.RegistryName();
    outcome.backup = options.restoreFile;
    const auto refuse = [&](const std::string& text) {
        outcome.reports.push_back(text);
        WriteLine(platform, text);
        outcome.exit = kNothingDone;
        return outcome;
    };

    std::ifstream in(options.restoreFile, std::ios::binary);
    if (!in) return refuse("cannot read \"" + options.restoreFile + "\"; nothing was restored.");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return refuse("cannot read \"" + options.restoreFile + "\"; nothing was restored.");
    std::vector<RegFileKey> keys;
    std::string error;
    if (!ParseRegFile(text, keys, error)) {
        return refuse("\"" + options.restoreFile + "\", " + error + "; nothing was restored.");
    }

    std::string refusal;
    try {
        const std::unique_ptr<RegistryStore> store = platform.OpenRegistry();
        auto* registry = dynamic_cast<platform::MemoryRegistry*>(&store->Registry());
        if (registry != nullptr) {
            for (const RegFileKey& key : keys) {
                registry->CreateKey(key.root, key.path);
                for (const RegFileValue& value : key.values) {
                    registry->SetValue(key.root, key.path, value.name, value.type, value.bytes);
                }
            }
            store->Save();
        } else {
#ifdef _WIN32
            // Windows' own registry, whose writes last at once.
            if (!WriteRegFileToWindows(keys, error)) {
                return refuse(error + "; what came before it in the file was restored. Start "
                                      "again as an administrator, or import the file with " +
                              RestoreCommand(options.restoreFile) + ".");
            }
#else
            return refuse("--restore cannot write to this registry; import the file with " +
                          RestoreCommand(options.restoreFile) + " instead.");
#endif
        }
    } catch (const std::exception& failure) {
        return refuse(std::string(failure.what()) + "\nNothing was restored.");
    }

    // Where the file sets each value last (names compare as the registry compares them).
    using Line = std::pair<std::ptrdiff_t, std::size_t>;
    std::map<std::tuple<platform::HKEY, std::string, std::string>, Line> lastLine;
    const auto ValueKey = [](const RegFileKey& key, const std::string& name) {
        return std::make_tuple(key.root, FoldCase(key.path), FoldCase(name));
    };
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (std::size_t v = 0; v < keys[k].values.size(); ++v) {
            lastLine[ValueKey(keys[k], keys[k].values[v].name)] =
                Line(static_cast<std::ptrdiff_t>(k), v);
        }
    }

    // Read back from the files as saved, by a store opened anew.
    bool all = true;
    try {
        const std::unique_ptr<RegistryStore> store = platform.OpenRegistry();
        platform::RegistryApi& registry = store->Registry();
        for (const RegFileKey& key : keys) {
            KeyOutcome entry{Utf8OfRegistryText(key.name), "restored", 1, ""};
            const bool seen = std::any_of(outcome.keys.begin(), outcome.keys.end(),
                                          [&](const KeyOutcome& k) { return k.key == entry.key; });
            platform::HKEY handle = 0;
            constexpr platform::DWORD kKeyRead = 0x20019;
            if (registry.RegOpenKeyExA(key.root, key.path.c_str(), 0, kKeyRead, &handle) !=
                platform::kErrorSuccess) {
                entry.state = "failed";
                entry.reason = "the key is not there after the restore";
            } else {
                for (std::size_t v = 0; v < key.values.size(); ++v) {
                    const RegFileValue& value = key.values[v];
                    // A later line of the file for the same value is what counts.
                    const bool later =
                        lastLine.at(ValueKey(key, value.name)) != std::make_pair(&key - keys.data(), v);
                    if (later || ReadBack(registry, handle, value)) continue;
                    entry.state = "failed";
                    entry.reason = "the value " +
                                   (value.name.empty() ? std::string("@")
                                                       : "\"" + Utf8OfRegistryText(value.name) + "\"") +
                                   " did not read back as the file writes it";
                    break;
                }
                registry.RegCloseKey(handle);
            }
            if (entry.state == "failed") {
                all = false;
                outcome.reports.push_back(entry.key + ": " + entry.reason);
                WriteLine(platform, outcome.reports.back());
            }
            if (!seen) outcome.keys.push_back(std::move(entry));
        }
    } catch (const std::exception& failure) {
        all = false;
        outcome.reports.push_back(std::string("the restore was saved but could not be read back: ") +
                                  failure.what());
        WriteLine(platform, outcome.reports.back());
    }
    WriteLine(platform, all ? "every key and value of the file came back as written."
                            : "not everything came back as the file writes it.");
    outcome.exit = all ? kDone : kDoneWithReports;
    return outcome;
}

}  // namespace

bool IsUnattendedMode(const std::string& word) {
    return word == "--preview" || word == "--clean" || word == "--restore";
}

bool ParseUnattended(const std::vector<std::string>& words, UnattendedOptions& options,
                     std::string& error) {
    if (words.empty() || !IsUnattendedMode(words[0])) {
        error = "no mode given";
        return false;
    }
    options = UnattendedOptions{};
    if (words[0] == "--restore") {
        options.mode = UnattendedOptions::Mode::Restore;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i] == "--json") {
                options.json = true;
            } else if (options.restoreFile.empty() && !words[i].empty() &&
                       words[i].rfind("--", 0) != 0) {
                options.restoreFile = words[i];
            } else {
                error = "\"" + words[i] + "\" is not an option of --restore";
                return false;
            }
        }
        if (options.restoreFile.empty()) error = "--restore needs the file to restore";
        return !options.restoreFile.empty();
    }
    options.mode = words[0] == "--clean" ? UnattendedOptions::Mode::Clean
                                         : UnattendedOptions::Mode::Preview;
    const bool clean = options.mode == UnattendedOptions::Mode::Clean;
    for (std::size_t i = 1; i < words.size(); ++i) {
        std::string word = words[i];
        std::optional<std::string> value;
        if (const auto equals = word.find('='); word.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.resize(equals);
        }
        const auto take = [&](std::string& into) {
            if (!value) {
                if (i + 1 >= words.size()) {
                    error = word + " needs a file name after it";
                    return false;
                }
                value = words[++i];
            }
            into = *value;
            return true;
        };
        if (word == "--keywords") {
            if (!take(options.keywords)) return false;
            if (options.keywords.empty()) {
                error = "--keywords needs a file name, not an empty text";
                return false;
            }
        } else if (word == "--backup" && clean) {
            if (!take(options.backup)) return false;
            if (options.backup.empty()) {
                error = "--backup needs a file name: --clean never deletes without a backup";
                return false;
            }
        } else if ((word == "--settings" || word == "--no-keys" || word == "--json") && !value) {
            if (word == "--settings") options.settings = true;
            if (word == "--no-keys") options.keys = false;
            if (word == "--json") options.json = true;
        } else {
            error = "\"" + words[i] + "\" is not an option of " + words[0];
            return false;
        }
    }
    if (!options.keys && !options.settings) {
        error = "--no-keys without --settings leaves nothing to " +
                std::string(clean ? "remove" : "preview");
        return false;
    }
    return true;
}

std::string OutcomeJson(const UnattendedOutcome& outcome) {
    nlohmann::ordered_json document;
    document["mode"] = outcome.mode;
    document["registry"] = outcome.registry;
    nlohmann::ordered_json keys = nlohmann::ordered_json::array();
    for (const KeyOutcome& key : outcome.keys) {
        nlohmann::ordered_json entry;
        entry["key"] = key.key;
        entry["state"] = key.state;
        entry["tree"] = key.tree;
        if (!key.reason.empty()) entry["reason"] = key.reason;
        keys.push_back(std::move(entry));
    }
    document["keys"] = std::move(keys);
    document["backup"] = outcome.backup ? nlohmann::ordered_json(*outcome.backup) : nullptr;
    document["kept_aside"] =
        outcome.keptAside ? nlohmann::ordered_json(*outcome.keptAside) : nullptr;
    document["reports"] = outcome.reports;
    document["exit"] = outcome.exit;
    // A file name in another code page must not make the report unreadable.
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int RunUnattended(StartupPlatform& platform, const std::vector<std::string>& words) {
    UnattendedOptions options;
    std::string error;
    UnattendedOutcome outcome;
    if (!ParseUnattended(words, options, error)) {
        const bool json = std::find(words.begin(), words.end(), "--json") != words.end();
        WriteLine(platform, error + "; nothing was deleted. \"sorvel --help\" shows how to use "
                                    "sorvel.");
        if (json) {
            outcome.mode = words[0] == "--clean" ? "clean"
                           : words[0] == "--restore" ? "restore" : "preview";
            outcome.registry = platform.RegistryName();
            outcome.reports.push_back(error);
            outcome.exit = kNothingDone;
            platform.WriteOutput(OutcomeJson(outcome));
        }
        return kNothingDone;
    }
    outcome = options.mode == UnattendedOptions::Mode::Restore ? Restore(platform, options)
                                                               : Run(platform, options);
    platform.WriteOutput(options.json ? OutcomeJson(outcome) : OutcomeLines(outcome));
    return outcome.exit;
}

}  // namespace cleaner
