// The registry of a Wine prefix: system.reg is HKEY_LOCAL_MACHINE, user.reg HKEY_CURRENT_USER,
// and HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes. Loads both files, and saves what
// changed atomically, byte for byte for every key it did not change.
#pragma once

#include "platform/files/wine_prefix.h"
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

class WinePrefixStore {
public:
    // Loads the prefix's registry. Refuses (StoreError, nothing written) a prefix that does not
    // exist or lacks its registry files, a damaged file, a prefix whose Wine server is running
    // (however it was started), and a prefix that another program holds open through this
    // store. Removes the temporary files that a save killed midway left in the prefix.
    static std::unique_ptr<WinePrefixStore> Open(const std::string& prefix);
    virtual ~WinePrefixStore() = default;

    virtual RegistryApi& Registry() = 0;
    // Writes each changed file atomically (temporary file, flushed, renamed); unchanged files are
    // not touched. Throws StoreError and leaves the old files in place when it cannot, and
    // refuses to write over a file that another program changed since it was read (saving would
    // undo that change): the caller then starts again from Refresh().
    virtual void Save() = 0;
    virtual bool HasChanges() const = 0;
    // Makes the registry the one on disc now: when another program changed a file since it was
    // read (or saved), both are read again. Changes left unsaved (after a save that failed or
    // was refused) are dropped as well, so the registry is again exactly the files; what they
    // deleted is still in the files. Handles opened before a refresh that read the files again
    // are closed. Throws StoreError, as Open does, when the prefix can no longer be used (its
    // Wine server running, a damaged file); the registry is then left as it was.
    virtual void Refresh() = 0;
    virtual const std::string& Prefix() const = 0;
};

}  // namespace platform
