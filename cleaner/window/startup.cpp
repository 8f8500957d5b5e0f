#include "cleaner/window/startup.h"

#include "cleaner/search/modFennick.h"
#include "cleaner/window/show_window.h"
#include "cleaner/window/startup_prefix.h"
#include "platform/registry/text.h"
#include "platform/registry/wine_store.h"

#include <exception>
#include <iostream>
#include <string_view>

namespace cleaner {
namespace {

// UTF-8 as the arguments and the terminal use it, to UTF-16 units; a byte that does not begin a
// valid sequence becomes U+FFFD, which the narrow code page turns into '?'.
std::u16string FromUtf8(std::string_view bytes) {
    std::u16string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2
                                   : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        char32_t code = length == 1 ? lead : length == 2 ? (lead & 0x1Fu)
                                      : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
        bool valid = length != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0u) == 0x80u;
            code = (code << 6) | (next & 0x3Fu);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// Windows-1252 text (every character below U+10000) as UTF-8.
std::string ToUtf8(std::u16string_view units) {
    std::string out;
    for (const char16_t unit : units) {
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
    return out;
}

// Reports on standard error. The unexpected-failure report breaks its line with a CR alone,
// which a terminal would use to overwrite the line: it becomes a line end.
class ConsoleUi : public RegistryUi {
public:
    explicit ConsoleUi(std::ostream& errors) : errors_(errors) {}
    void ShowMessage(const std::string& text) override {
        std::string line = ToUtf8(platform::text::FromCp1252(text));
        for (char& c : line) {
            if (c == '\r') c = '\n';
        }
        errors_ << "sorvel: " << line << '\n' << std::flush;
    }
    void DoEvents() override {}

private:
    std::ostream& errors_;
};

// The window's part of modFennick in a run without a window: the field updates go nowhere (they
// only write while a window run has started), reports go to the chosen ui and are counted.
class WindowlessView : public FennickView {
public:
    explicit WindowlessView(RegistryUi& ui) : ui_(ui) {}
    void ShowMessage(const std::string& text) override {
        ++reports_;
        ui_.ShowMessage(text);
    }
    void DoEvents() override { ui_.DoEvents(); }
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string&) override {}
    int Reports() const { return reports_; }

private:
    RegistryUi& ui_;
    int reports_ = 0;
};

}  // namespace

std::string CommandLineText(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined.push_back(' ');
        joined.append(argv[i]);
    }
    return platform::text::ToCp1252(FromUtf8(joined));
}

std::unique_ptr<RegistryUi> MakeConsoleUi(std::ostream& errors) {
    return std::make_unique<ConsoleUi>(errors);
}

int RunCommandLine(const std::string& commandLine, const std::string& prefix, RegistryUi& ui,
                   std::ostream& errors) {
    std::unique_ptr<platform::WinePrefixStore> store;
    try {
        store = platform::WinePrefixStore::Open(prefix);
    } catch (const std::exception& refusal) {
        errors << "sorvel: " << refusal.what() << '\n' << std::flush;
        return kExitFailed;
    }

    WindowlessView view(ui);
    PrefixCommit commit(*store, [&errors](const std::string& failure) {
        errors << "sorvel: " << failure << '\n' << std::flush;
    });
    modRegFuncs reg(store->Registry(), view);
    modFennick fennick(reg, view);
    fennick.UseRegistryCommit(&commit);

    bool ended = true;
    try {
        fennick.RemoveSuiteKeys(commandLine);
    } catch (const std::exception& failure) {
        errors << "sorvel: the removal ended early: " << failure.what() << '\n' << std::flush;
        ended = false;
    }
    // Also after an early end: the keys deleted so far are gone and must stay gone.
    const bool saved = commit.Save();
    if (!saved || !ended) return kExitFailed;
    return view.Reports() == 0 ? kExitDone : kExitReported;
}

int Startup(int argc, char** argv) {
    const std::string commandLine = CommandLineText(argc, argv);
    const std::string prefix = platform::DefaultWinePrefix();
    if (!commandLine.empty()) {
        const std::unique_ptr<RegistryUi> ui = MakeCommandLineUi(argc, argv);
        return RunCommandLine(commandLine, prefix, *ui, std::cerr);
    }

    std::unique_ptr<platform::WinePrefixStore> store;
    std::string refusal;
    try {
        store = platform::WinePrefixStore::Open(prefix);
    } catch (const std::exception& failure) {
        refusal = failure.what();
    }
    return ShowMainWindow(argc, argv, store.get(), refusal);
}

}  // namespace cleaner
