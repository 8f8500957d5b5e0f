// The registry of a Wine prefix: system.reg is HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER,
// and HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes. Loads both files, and saves what
// changed atomically, byte for byte for every key it did not change.
#pragma once

#include "platform/registry/memory_registry.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

// A refusal or failure of the store. what() is a complete message for the user: it names the
// prefix (and the file and line where that helps) and says what to do.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The prefix Wine itself would use: $WINEPREFIX, else ~/.wine.
std::string DefaultWinePrefix();

class WinePrefixStore {
public:
    // Loads the prefix's registry. Refuses (StoreError, nothing written) a prefix that does not
    // exist or lacks its registry files, a damaged file, a prefix whose Wine server is running,
    // and a prefix that another program holds open through this store.
    static std::unique_ptr<WinePrefixStore> Open(const std::string& prefix);
    virtual ~WinePrefixStore() = default;

    virtual RegistryApi& Registry() = 0;
    // Writes each changed file atomically (temporary file, flushed, renamed); unchanged files are
    // not touched. Throws StoreError and leaves the old files in place when it cannot.
    virtual void Save() = 0;
    virtual bool HasChanges() const = 0;
    // Makes the registry the one on disc now: a file that another program changed since it was
    // read is read again. Called between runs, with nothing unsaved. Throws StoreError, as Open
    // does, when the prefix can no longer be used (its Wine server running, a damaged file).
    virtual void Refresh() = 0;
    virtual const std::string& Prefix() const = 0;
};

}  // namespace platform
