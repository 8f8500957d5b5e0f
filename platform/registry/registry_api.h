// The registry as the cleaner needs it: the Win32 narrow-character operations, under their
// Win32 names and with their Win32 result codes. On Windows this is a thin forwarder to
// advapi32; on Linux the Wine-prefix store (wine_store.h) provides it, and tests use the
// in-memory registry (memory_registry.h).
//
// Standard library only: this header is compiled for Windows too, so it must not include
// <windows.h> nor use names that <windows.h> defines as macros (hence kHkeyClassesRoot and
// kErrorSuccess instead of HKEY_CLASSES_ROOT and ERROR_SUCCESS).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using HKEY = std::uint32_t;   // a 32-bit key handle, as on 32-bit Windows
using LONG = std::int32_t;
using DWORD = std::uint32_t;

inline constexpr HKEY kHkeyClassesRoot = 0x80000000u;
inline constexpr HKEY kHkeyCurrentUser = 0x80000001u;
inline constexpr HKEY kHkeyLocalMachine = 0x80000002u;

// Result codes, with their Windows meaning.
inline constexpr LONG kErrorSuccess = 0;
inline constexpr LONG kErrorFileNotFound = 2;     // the key or value does not exist
inline constexpr LONG kErrorAccessDenied = 5;     // also: deleting a key that still has subkeys
inline constexpr LONG kErrorInvalidHandle = 6;
inline constexpr LONG kErrorMoreData = 234;       // the caller's buffer is too small
inline constexpr LONG kErrorNoMoreItems = 259;    // enumeration index past the last item
inline constexpr LONG kErrorKeyDeleted = 1018;    // the handle's key was deleted meanwhile

// Value types.
inline constexpr DWORD kRegNone = 0;
inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegExpandSz = 2;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegDword = 4;
inline constexpr DWORD kRegMultiSz = 7;
inline constexpr DWORD kRegLink = 6;        // a link key's SymbolicLinkValue (UTF-16 target path)
inline constexpr DWORD kRegQword = 11;

// Rights of RegOpenKeyExA's access mask, with Windows' values.
inline constexpr DWORD kKeyQueryValue = 0x0001;
inline constexpr DWORD kKeyEnumerateSubKeys = 0x0008;
inline constexpr DWORD kKeyRead = 0x20019;  // KEY_READ: query, enumerate, notify, read control
inline constexpr DWORD kAccessDelete = 0x10000;
inline constexpr DWORD kKeyWow64Views = 0x0300;  // KEY_WOW64_64KEY | KEY_WOW64_32KEY: no rights

// RegOpenKeyExA options: open a link key itself instead of the key it points to.
inline constexpr DWORD kRegOptionOpenLink = 0x8;

inline constexpr DWORD kFormatMessageFromSystem = 0x1000;

// What QueryNarrowLoss finds the narrow functions cannot give out exactly.
inline constexpr DWORD kNarrowNamesInexact = 0x1;  // a subkey's or a value's name
inline constexpr DWORD kNarrowTextInexact = 0x2;   // a string value's data

// All text is narrow: Windows-1252, one byte a character. String values (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) are returned in that code page, their sizes counted in narrow bytes including
// the terminating NUL; every other type is returned as its exact bytes. A character that the
// code page lacks comes out as '?' (Windows may give a look-alike instead); QueryNarrowLoss
// tells where that happens.
//
// Too small a buffer: two behaviours, and callers must work with both. A caller that is told
// 234 grows its buffer and asks again: to the size it was told when it was told one, else
// twice as large, up to the registry's limits (a key name 255 characters, a value name
// 16,383), and never reads a buffer past the length it was given.
// - The Wine-prefix store and MemoryRegistry by default: the Enum functions return 234, set
//   *nameSize to the name's length without NUL, and write nothing.
// - Windows (and MemoryRegistry::SetNameBufferRules(kWindows)): RegEnumKeyExA returns 234,
//   leaves *nameSize as passed and writes nothing; RegEnumValueA returns 234, leaves *nameSize
//   as passed, writes the name cut off to fit with a NUL, and leaves the data, its size and its
//   type undefined.
// The rest is the same under both, as Windows documents it: a data buffer too small gives 234
// with the size needed in *dataSize, the buffer's content undefined (RegQueryValueExA,
// RegEnumValueA); asked for the size alone (data null), RegQueryValueExA may give more than a
// read then returns (Windows, for string types), so a reader goes by the size the read gives;
// string data need not end in a NUL; RegDeleteKeyA on a key that still has subkeys gives 5.
class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // Opens subKey below key (a predefined root or an open handle). A null or empty subKey gives
    // a new handle on key itself (Windows: below a predefined root, that root's own handle,
    // which RegCloseKey then leaves open). 0, or 2 when the key does not exist, or 5/6/1018.
    // A link key (Wine's #link: its value SymbolicLinkValue, of type REG_LINK, names the target):
    // Windows opens the target unless options holds kRegOptionOpenLink; the Wine-prefix store
    // never follows a link and always opens the link key itself.
    virtual LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                               HKEY* result) = 0;

    // 0, or 6 for a handle that is not open. Closing a predefined root is 0 and does nothing.
    virtual LONG RegCloseKey(HKEY key) = 0;

    // Reads a value (null or empty name: the default value). type may be null. With data null,
    // sets *dataSize to the size needed (see above) and returns 0. With a buffer smaller than
    // the data, returns 234 and sets *dataSize to the size needed; 2 when the value does not
    // exist.
    virtual LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                  unsigned char* data, DWORD* dataSize) = 0;

    // The subkey at index, in the registry's own enumeration order (a Wine prefix: Wine's sorted
    // order). *nameSize is the buffer size in characters, NUL included; on 0 it becomes the
    // name's length without NUL. When the name does not fit, returns 234 (see above for
    // *nameSize) and writes nothing past the buffer. 259 past the last subkey.
    // className, classSize and lastWriteTime may be null; a class size of 0 returns no class.
    // lastWriteTime is a FILETIME (100 ns ticks since 1601).
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize,
                               DWORD* reserved, char* className, DWORD* classSize,
                               std::uint64_t* lastWriteTime) = 0;

    // The value at index, in stored order. The name follows the rules of RegEnumKeyExA; type,
    // data and dataSize follow those of RegQueryValueExA (each may be null). 259 past the last.
    virtual LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize,
                               DWORD* reserved, DWORD* type, unsigned char* data,
                               DWORD* dataSize) = 0;

    // Deletes subKey below key, which must have no subkeys (5 otherwise); 2 when it does not
    // exist. An empty subKey deletes the key the handle stands for.
    virtual LONG RegDeleteKeyA(HKEY key, const char* subKey) = 0;

    // The system's text for an error code (flags kFormatMessageFromSystem, language 0), as
    // FormatMessageA writes it: NUL-terminated, ending in CR LF. Returns the number of characters
    // written without the NUL, or 0 when the code has no text or the buffer is too small.
    virtual DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId,
                                 DWORD languageId, char* buffer, DWORD size, void* arguments) = 0;

    // Whether the narrow functions give out everything of this key exactly: the names of its
    // subkeys and of its values, and the data of its string values (REG_SZ, REG_EXPAND_SZ,
    // REG_MULTI_SZ). Sets *loss to 0, or to kNarrowNamesInexact and/or kNarrowTextInexact when
    // at least one of them holds a character that the narrow code page lacks, a name holds a NUL,
    // or string data has an odd number of bytes. 0, or 6/1018 as RegEnumKeyExA.
    // (Windows: the W functions enumerate the same, and WideCharToMultiByte(CP_ACP,
    // WC_NO_BEST_FIT_CHARS) with its used-default flag tells each text.)
    virtual LONG QueryNarrowLoss(HKEY key, DWORD* loss) = 0;

    // Whether the key has a class name (Wine's #class; Windows: the class RegQueryInfoKeyA
    // gives), which a REGEDIT4 file cannot carry. 0, or 6 as RegEnumKeyExA. A registry that does
    // not keep class names may keep this default.
    virtual LONG QueryKeyClass(HKEY key, bool* hasClass) {
        (void)key;
        *hasClass = false;
        return 0;
    }

    // True for a 64-bit registry that keeps a 32-bit node beside its own (a prefix whose files
    // say #arch=win64; 64-bit Windows): 32-bit installers' keys are then below Wow6432Node
    // (HKEY_CLASSES_ROOT\Wow6432Node, HKEY_LOCAL_MACHINE\Software\Wow6432Node), reached by that
    // path in this, the 64-bit view.
    virtual bool HasWow64Node() const = 0;

    // True when HKEY_CLASSES_ROOT merges HKEY_CURRENT_USER\Software\Classes over
    // HKEY_LOCAL_MACHINE\Software\Classes (Windows): a key opened below it is the user's copy
    // when there is one, else the machine's, and its subkeys are those of both. A key there may
    // then have two copies, which only their own roots address. Wine (8 included) and its prefix
    // store do not merge: HKEY_CLASSES_ROOT is the machine's classes alone.
    virtual bool MergesUserClasses() const { return false; }
};

}  // namespace platform
