// modRegFuncs: the only place in the cleaner that talks to the registry. Thin wrappers with
// uniform failure reports, subkey and value walks with shared positions, and the tree
// operations (export, delete, find) with the backup text format.
//
// Standard library only, so it builds unchanged for Windows.
#pragma once

#include "platform/registry/registry_api.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace cleaner {

using platform::HKEY;

// What the registry layer needs of the user interface.
class RegistryUi {
public:
    virtual ~RegistryUi() = default;
    // A modal OK-only message box with the application's default title ("sorvel").
    virtual void ShowMessage(const std::string& text) = 0;
    // Lets the window process pending events (repaint, a press of Cancel).
    virtual void DoEvents() = 0;
};

class modRegFuncs {
public:
    modRegFuncs(platform::RegistryApi& api, RegistryUi& ui);

    bool RegOpen(HKEY root, const std::string& keyPath, const std::string& subKey, HKEY& handle);
    bool RegClose(HKEY handle);
    // Whether keyPath[\subKey] below root is a link key (Wine's #link: a value SymbolicLinkValue
    // of type REG_LINK naming another key). Links are the registry's own plumbing: the cleaner
    // never walks, exports or deletes through them. Silent; false when the key does not open.
    bool IsLinkKey(HKEY root, const std::string& keyPath, const std::string& subKey);
    bool RegGet(HKEY handle, const std::string& valueName, std::string& data);

    // Whether the registry keeps a 32-bit node beside its own (RegistryApi::HasWow64Node).
    bool HasWow64Node() const { return api_.HasWow64Node(); }
    // Whether HKEY_CLASSES_ROOT merges the user's classes (RegistryApi::MergesUserClasses).
    bool MergesUserClasses() const { return api_.MergesUserClasses(); }

    bool RegFirstKey(HKEY handle, std::string& name);
    bool RegNextKey(HKEY handle, std::string& name);
    std::int32_t RegGetKeyIndex() const;
    void RegSetKeyIndex(std::int32_t index);
    // No failure handler of their own: an unexpected failure inside (std::bad_alloc, an index
    // that cannot advance: UnexpectedFailure of failure_reports.h) is thrown to the caller,
    // whose handler reports it under its own label.
    bool RegFirstValue(HKEY handle, std::string& name, std::string& data);
    bool RegNextValue(HKEY handle, std::string& name, std::string& data);

    // The three tree operations walk depth first. They never go into, export or delete a link
    // key (see IsLinkKey): a link inside a tree stays, and so does its parent; an operation
    // started on a link does nothing. Exceptions not derived from std::exception (thrown from
    // DoEvents, say) pass through all three, with the keys they opened closed.

    // What an export learnt of its tree besides the text.
    struct ExportFindings {
        bool read = true;        // every key and value was read (else its report was shown)
        bool namesExact = true;  // every key and value name came out exactly, and no key name
                                 // holds a line break, which a key line cannot
        bool textExact = true;   // every string value's text came out exactly
        bool restorable = true;  // a registry editor gives every key of the block back: none
                                 // has a class name (REGEDIT4 has no place for one) or a key
                                 // line longer than kLongestRestoredKeyName
    };
    // Wine's regedit and reg read a key name of at most this many characters; a deeper key of
    // a backup is not given back.
    static constexpr std::size_t kLongestRestoredKeyName = 32767;
    // Appends the backup text of the tree (backup_format.h). False unless the text is the whole
    // tree exactly: a part that could not be read (its report was shown), or a name or text
    // that the narrow code page cannot carry (given out with '?'), would be missing or wrong,
    // and the tree must not be deleted on the strength of it. A key that does not exist gives
    // true, no text.
    bool RegExportTree(HKEY root, const std::string& displayRoot, const std::string& keyPath,
                       const std::string& subKey, std::string& text);
    bool RegExportTree(HKEY root, const std::string& displayRoot, const std::string& keyPath,
                       const std::string& subKey, std::string& text, ExportFindings& findings);
    // True when the key itself was deleted.
    bool RegDeleteTree(HKEY root, const std::string& keyPath, const std::string& subKey);
    // An empty part matches nothing.
    bool RegFindSubkeyValue(HKEY root, const std::string& part, const std::string& keyPath,
                            const std::string& subKey, std::string& result);

private:
    struct WholeValue;  // a value's name, type and whole data, with the buffers that read it
    class TreeWalk;     // the depth-first walk the three tree operations share (tree_walk.h)

    enum class SubkeyRead {
        Found,       // a subkey and its name
        Unreadable,  // a subkey whose name does not fit the registry's longest (name empty)
        End,         // no more subkeys
        Failed,      // its report was shown
    };
    SubkeyRead ReadSubkey(HKEY handle, std::string& name, bool first);
    void AdvanceKeyIndex();
    platform::LONG ReadValueName(HKEY handle, std::string& name);
    platform::LONG ReadWholeValue(HKEY handle, WholeValue& value);
    bool AppendKeyBlock(HKEY handle, const std::string& path, WholeValue& value,
                        std::string& text);

    // Opens path below root for access as RegOpen does (reporting every failure but a missing
    // key) and gives the platform's code; an unexpected failure is reported and gives -1.
    platform::LONG OpenKey(HKEY root, const char* path, platform::DWORD options,
                           platform::DWORD access, HKEY& handle);
    bool IsLink(HKEY handle);

    std::string SystemText(platform::LONG code);
    void ShowRegistryFailure(const char* label, const std::string& subject, platform::LONG code);
    void ShowUnexpectedFailure(const char* label, const std::exception& failure);

    platform::RegistryApi& api_;
    RegistryUi& ui_;
    std::int32_t KeyEnumIndex = 0;    // shared by every subkey walk
    std::int32_t ValueEnumIndex = 0;  // shared by every value walk
};

}  // namespace cleaner
