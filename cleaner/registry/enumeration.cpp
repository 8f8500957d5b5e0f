// Subkey and value walks. Their positions, KeyEnumIndex and ValueEnumIndex, belong to the
// module and not to a walk: every walk of every key shares them, which is why a walk that
// starts another one saves and restores KeyEnumIndex around it.
#include "cleaner/registry/modRegFuncs.h"

#include "cleaner/registry/failure_reports.h"
#include "cleaner/registry/layer_internal.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <vector>

namespace cleaner {

namespace {

using platform::DWORD;
using platform::LONG;

constexpr DWORD kNameBufferSize = 255;
constexpr DWORD kValueDataSize = 255;
// The registry's longest names, with their NUL: 255 characters for a key, 16,383 for a value.
constexpr std::size_t kLongestKeyName = 256;
constexpr std::size_t kLongestValueName = 16384;
// A name or value larger than this is not something a registry holds; a platform that reports
// such a size is answered with a failure rather than with an allocation of that size.
constexpr DWORD kLargestRead = 1u << 26;
// How often a read is repeated with a larger buffer when the platform says it is too small:
// enough to double a name buffer up to the longest value name, and to follow data that grows
// meanwhile.
constexpr int kLargerReads = 16;

bool Succeeded(LONG result) {
    return result == platform::kErrorSuccess || result == platform::kErrorMoreData;
}

// The name in a buffer of capacity characters whose reported length is length: the first
// length characters; or, when the length fills the buffer or more, the text before the first
// NUL (all of the buffer when there is none). Never reads past the buffer.
std::string NameFromBuffer(const char* buffer, std::size_t capacity, DWORD length) {
    if (length < capacity) {
        return std::string(buffer, length);
    }
    return std::string(buffer, std::find(buffer, buffer + capacity, '\0'));
}

UnexpectedFailure TooLargeFailure() {
    return UnexpectedFailure(kFailureInvalidArgument, "Invalid procedure call or argument");
}

std::size_t BufferFor(DWORD length) {
    if (length >= kLargestRead) {
        throw TooLargeFailure();
    }
    return static_cast<std::size_t>(length) + 1;
}

// The buffer to try after a name did not fit one of size characters, of which the platform
// said it needs length (without NUL). A platform that says so gets what it asked for; Windows
// leaves length as it was passed, and then the buffer doubles, up to longest. 0 when there is
// nothing larger to try.
std::size_t LargerNameBuffer(std::size_t size, DWORD length, std::size_t longest) {
    if (length > size) {
        return BufferFor(length);
    }
    if (length == size && size < longest) {
        return std::min(std::max(size * 2, size + 1), longest);
    }
    return 0;
}

// Reads one name by an enumeration call (LONG(char* buffer, DWORD* length)). A name that does
// not fit the usual 255 characters is read again with a larger buffer (LargerNameBuffer).
// When it still does not fit, the result is 234 and the name is left empty: a cut-off name
// would name another key or value.
template <typename Enumerate>
LONG EnumerateName(const Enumerate& enumerate, std::size_t longest, std::string& name) {
    std::array<char, kNameBufferSize> buffer{};
    DWORD length = kNameBufferSize;
    LONG result = enumerate(buffer.data(), &length);
    if (result == platform::kErrorSuccess) {
        name = NameFromBuffer(buffer.data(), buffer.size(), length);
        return result;
    }
    std::vector<char> larger;
    std::size_t size = buffer.size();
    for (int read = 0; read < kLargerReads && result == platform::kErrorMoreData; ++read) {
        size = LargerNameBuffer(size, length, longest);
        if (size == 0) {
            break;
        }
        larger.assign(size, '\0');
        length = static_cast<DWORD>(size);
        result = enumerate(larger.data(), &length);
    }
    if (result == platform::kErrorSuccess) {
        name = NameFromBuffer(larger.data(), larger.size(), length);
    }
    return result;
}

}  // namespace

// --- Subkeys

bool modRegFuncs::RegFirstKey(HKEY handle, std::string& name) {
    const SubkeyRead read = ReadSubkey(handle, name, true);
    return read == SubkeyRead::Found || read == SubkeyRead::Unreadable;
}

bool modRegFuncs::RegNextKey(HKEY handle, std::string& name) {
    const SubkeyRead read = ReadSubkey(handle, name, false);
    return read == SubkeyRead::Found || read == SubkeyRead::Unreadable;
}

std::int32_t modRegFuncs::RegGetKeyIndex() const {
    return KeyEnumIndex;
}

void modRegFuncs::RegSetKeyIndex(std::int32_t index) {
    KeyEnumIndex = index;
}

// The subkey at KeyEnumIndex (from 0 when first). A name that does not fit even the longest
// buffer counts as read, as "more data" does for the platform's callers, with an empty name,
// which every walk skips.
modRegFuncs::SubkeyRead modRegFuncs::ReadSubkey(HKEY handle, std::string& name, bool first) {
    try {
        if (first) {
            KeyEnumIndex = 0;
        }
        name.clear();
        const auto enumerate = [&](char* buffer, DWORD* length) {
            std::array<char, 32> className{};
            DWORD classSize = 0;  // no class wanted
            std::uint64_t lastWrite = 0;
            return api_.RegEnumKeyExA(handle, static_cast<DWORD>(KeyEnumIndex), buffer, length,
                                      nullptr, className.data(), &classSize, &lastWrite);
        };
        const LONG result = EnumerateName(enumerate, kLongestKeyName, name);
        if (Succeeded(result)) {
            AdvanceKeyIndex();
            return result == platform::kErrorSuccess ? SubkeyRead::Found : SubkeyRead::Unreadable;
        }
        if (result == platform::kErrorNoMoreItems) {
            return SubkeyRead::End;
        }
        ShowRegistryFailure(first ? "First Reg :" : "Next Reg :", std::string(), result);
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure(first ? "FirstKey - error #" : "NextKey - error #", failure);
    }
    return SubkeyRead::Failed;
}

void modRegFuncs::AdvanceKeyIndex() {
    if (KeyEnumIndex == std::numeric_limits<std::int32_t>::max()) {
        throw OverflowFailure();
    }
    ++KeyEnumIndex;
}

// --- Values. These have no failure handler of their own: what goes wrong inside them (an
// index that cannot advance, memory) is raised to the operation that called them.

bool modRegFuncs::RegFirstValue(HKEY handle, std::string& name, std::string& data) {
    ValueEnumIndex = 0;
    return RegNextValue(handle, name, data);
}

bool modRegFuncs::RegNextValue(HKEY handle, std::string& name, std::string& data) {
    data.clear();
    const LONG read = ReadValueName(handle, name);
    if (!Succeeded(read)) {
        return false;
    }
    if (read == platform::kErrorMoreData) {
        return true;  // a name too long to read: its data cannot be asked for by name
    }
    // Data that does not fit 255 bytes, or a value gone meanwhile, is reported as empty data;
    // the walk goes on.
    std::array<unsigned char, kValueDataSize> buffer{};
    DWORD size = kValueDataSize;
    DWORD type = 0;
    const LONG result =
        api_.RegQueryValueExA(handle, name.c_str(), nullptr, &type, buffer.data(), &size);
    if (result == platform::kErrorSuccess && size > 0) {
        // The last byte is taken for a string's terminating NUL, whatever the type.
        data.assign(reinterpret_cast<const char*>(buffer.data()),
                    std::min(size, kValueDataSize) - 1);
    }
    return true;
}

// The name of the value at ValueEnumIndex, which then advances: 0; or 234 for a name that does
// not fit the longest buffer (left empty); or the code that ended the walk.
LONG modRegFuncs::ReadValueName(HKEY handle, std::string& name) {
    name.clear();
    const auto enumerate = [&](char* buffer, DWORD* length) {
        DWORD type = 0;
        DWORD dataSize = 1;  // name and type only; the data is read by name afterwards
        return api_.RegEnumValueA(handle, static_cast<DWORD>(ValueEnumIndex), buffer, length,
                                  nullptr, &type, nullptr, &dataSize);
    };
    const LONG result = EnumerateName(enumerate, kLongestValueName, name);
    if (!Succeeded(result)) {
        return result;
    }
    if (ValueEnumIndex == std::numeric_limits<std::int32_t>::max()) {
        throw OverflowFailure();
    }
    ++ValueEnumIndex;
    return result;
}

// --- The export's value walk: the same shared position, but each value is fetched with its
// type and all of its data, however long, so that the backup can restore it exactly.

// 0 with the value read; else the code that ended the walk (259 at its normal end).
LONG modRegFuncs::ReadWholeValue(HKEY handle, WholeValue& value) {
    for (int read = 0;; ++read) {
        DWORD nameLength = static_cast<DWORD>(value.nameBuffer.size());
        DWORD dataSize = static_cast<DWORD>(value.dataBuffer.size());
        const LONG result = api_.RegEnumValueA(handle, static_cast<DWORD>(ValueEnumIndex),
                                               value.nameBuffer.data(), &nameLength, nullptr,
                                               &value.type, value.dataBuffer.data(), &dataSize);
        if (result == platform::kErrorSuccess) {
            if (ValueEnumIndex == std::numeric_limits<std::int32_t>::max()) {
                throw OverflowFailure();
            }
            ++ValueEnumIndex;
            value.name =
                NameFromBuffer(value.nameBuffer.data(), value.nameBuffer.size(), nameLength);
            value.bytes.assign(reinterpret_cast<const char*>(value.dataBuffer.data()),
                               std::min<std::size_t>(dataSize, value.dataBuffer.size()));
            return result;
        }
        if (result != platform::kErrorMoreData) {
            return result;
        }
        // Grow what the platform says is too small. The data's size is told (Windows too);
        // a name's size may not be, and then the name grows only when the data fitted, as it
        // must be the name that did not.
        const bool dataShort = dataSize > value.dataBuffer.size();
        const std::size_t nameSize =
            dataShort && nameLength <= value.nameBuffer.size()
                ? 0
                : LargerNameBuffer(value.nameBuffer.size(), nameLength, kLongestValueName);
        if ((!dataShort && nameSize == 0) || read == kLargerReads) {
            throw TooLargeFailure();
        }
        if (dataShort) {
            value.dataBuffer.resize(BufferFor(dataSize));
        }
        if (nameSize != 0) {
            value.nameBuffer.resize(nameSize);
        }
    }
}

}  // namespace cleaner
