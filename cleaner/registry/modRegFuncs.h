// modRegFuncs: the only place in the cleaner that talks to the registry. Thin wrappers with
// uniform failure reports, subkey and value walks with shared positions, and the tree
// operations (export, delete, find) with the backup text format.
//
// Standard library only, so it builds unchanged for Windows.
#pragma once

#include "platform/registry/registry_api.h"

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

    bool RegFirstKey(HKEY handle, std::string& name);
    bool RegNextKey(HKEY handle, std::string& name);
    std::int32_t RegGetKeyIndex() const;
    void RegSetKeyIndex(std::int32_t index);
    // No failure handler of their own: an unexpected failure inside (std::bad_alloc, an index
    // that cannot advance: UnexpectedFailure of failure_reports.h) is thrown to the caller,
    // whose handler reports it under its own label.
    bool RegFirstValue(HKEY handle, std::string& name, std::string& data);
    bool RegNextValue(HKEY handle, std::string& name, std::string& data);

    // Appends the backup text of the tree (backup_format.h). False when a part of the tree
    // could not be read (its report was shown): text then lacks that part, and the tree must
    // not be deleted on the strength of it. A key that does not exist gives true, no text.
    // Exceptions not derived from std::exception (thrown from DoEvents, say) pass through all
    // three tree operations, with the keys they opened closed.
    bool RegExportTree(HKEY root, const std::string& displayRoot, const std::string& keyPath,
                       const std::string& subKey, std::string& text);
    bool RegDeleteTree(HKEY root, const std::string& keyPath, const std::string& subKey);
    bool RegFindSubkeyValue(HKEY root, const std::string& part, const std::string& keyPath,
                            const std::string& subKey, std::string& result);

private:
    struct WholeValue;  // a value's name, type and whole data, with the buffers that read it

    bool ReadSubkey(HKEY handle, std::string& name, const char* reportLabel);
    void AdvanceKeyIndex();
    bool ReadValueName(HKEY handle, std::string& name);
    platform::LONG ReadWholeValue(HKEY handle, WholeValue& value);
    bool AppendKeyBlock(HKEY handle, const std::string& path, WholeValue& value,
                        std::string& block, std::string& text);

    std::string SystemText(platform::LONG code);
    void ShowRegistryFailure(const char* label, const std::string& subject, platform::LONG code);
    void ShowUnexpectedFailure(const char* label, const std::exception& failure);

    platform::RegistryApi& api_;
    RegistryUi& ui_;
    std::int32_t KeyEnumIndex = 0;    // shared by every subkey walk
    std::int32_t ValueEnumIndex = 0;  // shared by every value walk
    std::uint64_t reportsShown_ = 0;  // lets a tree operation tell that a part of it failed
};

}  // namespace cleaner
