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
// A name or value larger than this is not something a registry holds; a platform that reports
// such a size is answered with a failure rather than with an allocation of that size.
constexpr DWORD kLargestRead = 1u << 26;
// How often a read is repeated with a larger buffer when the platform says it is too small.
constexpr int kLargerReads = 8;

bool Succeeded(LONG result) {
    return result == platform::kErrorSuccess || result == platform::kErrorMoreData;
}

// The name in a buffer of capacity characters whose reported length is length: the first
// length characters; or, when the length fills the buffer or more, or the platform said the
// buffer was too small (so its content is in doubt), the text before the first NUL (all of
// the buffer when there is none). Never reads past the buffer.
std::string NameFromBuffer(const char* buffer, std::size_t capacity, DWORD length,
                           LONG result) {
    if (result == platform::kErrorSuccess && length < capacity) {
        return std::string(buffer, length);
    }
    const std::size_t limit = std::min<std::size_t>(length, capacity);
    return std::string(buffer, std::find(buffer, buffer + limit, '\0'));
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

// Reads one name by an enumeration call (LONG(char* buffer, DWORD* length)). A name that does
// not fit the usual 255 characters is read again, whole, with a buffer as large as the
// platform says it needs.
template <typename Enumerate>
LONG EnumerateName(const Enumerate& enumerate, std::string& name) {
    std::array<char, kNameBufferSize> buffer{};
    DWORD length = kNameBufferSize;
    LONG result = enumerate(buffer.data(), &length);
    if (result == platform::kErrorMoreData && length >= kNameBufferSize) {
        std::vector<char> larger;
        for (int read = 0; read < kLargerReads && result == platform::kErrorMoreData &&
                           length >= larger.size();
             ++read) {
            larger.assign(BufferFor(length), '\0');
            length = static_cast<DWORD>(larger.size());
            result = enumerate(larger.data(), &length);
        }
        if (Succeeded(result)) {
            name = NameFromBuffer(larger.data(), larger.size(), length, result);
        }
        return result;
    }
    if (Succeeded(result)) {
        name = NameFromBuffer(buffer.data(), buffer.size(), length, result);
    }
    return result;
}

}  // namespace

// --- Subkeys

bool modRegFuncs::RegFirstKey(HKEY handle, std::string& name) {
    try {
        KeyEnumIndex = 0;
        return ReadSubkey(handle, name, "First Reg :");
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure("FirstKey - error #", failure);
        return false;
    }
}

bool modRegFuncs::RegNextKey(HKEY handle, std::string& name) {
    try {
        return ReadSubkey(handle, name, "Next Reg :");
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure("NextKey - error #", failure);
        return false;
    }
}

std::int32_t modRegFuncs::RegGetKeyIndex() const {
    return KeyEnumIndex;
}

void modRegFuncs::RegSetKeyIndex(std::int32_t index) {
    KeyEnumIndex = index;
}

bool modRegFuncs::ReadSubkey(HKEY handle, std::string& name, const char* reportLabel) {
    name.clear();
    const auto enumerate = [&](char* buffer, DWORD* length) {
        std::array<char, 32> className{};
        DWORD classSize = 0;  // no class wanted
        std::uint64_t lastWrite = 0;
        return api_.RegEnumKeyExA(handle, static_cast<DWORD>(KeyEnumIndex), buffer, length,
                                  nullptr, className.data(), &classSize, &lastWrite);
    };
    const LONG result = EnumerateName(enumerate, name);
    if (Succeeded(result)) {
        AdvanceKeyIndex();
        return true;
    }
    name.clear();
    if (result != platform::kErrorNoMoreItems) {
        ShowRegistryFailure(reportLabel, std::string(), result);
    }
    return false;
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
    if (!ReadValueName(handle, name)) {
        return false;
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

bool modRegFuncs::ReadValueName(HKEY handle, std::string& name) {
    name.clear();
    const auto enumerate = [&](char* buffer, DWORD* length) {
        DWORD type = 0;
        DWORD dataSize = 1;  // name and type only; the data is read by name afterwards
        return api_.RegEnumValueA(handle, static_cast<DWORD>(ValueEnumIndex), buffer, length,
                                  nullptr, &type, nullptr, &dataSize);
    };
    const LONG result = EnumerateName(enumerate, name);
    if (!Succeeded(result)) {
        name.clear();
        return false;
    }
    if (ValueEnumIndex == std::numeric_limits<std::int32_t>::max()) {
        throw OverflowFailure();
    }
    ++ValueEnumIndex;
    return true;
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
            value.name = NameFromBuffer(value.nameBuffer.data(), value.nameBuffer.size(),
                                        nameLength, result);
            value.bytes.assign(reinterpret_cast<const char*>(value.dataBuffer.data()),
                               std::min<std::size_t>(dataSize, value.dataBuffer.size()));
            return result;
        }
        if (result != platform::kErrorMoreData) {
            return result;
        }
        if (read == kLargerReads) {
            throw TooLargeFailure();
        }
        // Grow whichever buffer the platform says is too small; both when it does not say.
        const std::size_t nameWanted = nameLength >= value.nameBuffer.size()
                                           ? BufferFor(nameLength)
                                           : value.nameBuffer.size();
        const std::size_t dataWanted = dataSize > value.dataBuffer.size()
                                           ? BufferFor(dataSize)
                                           : value.dataBuffer.size();
        if (nameWanted == value.nameBuffer.size() && dataWanted == value.dataBuffer.size()) {
            value.nameBuffer.resize(BufferFor(static_cast<DWORD>(value.nameBuffer.size() * 2)));
            value.dataBuffer.resize(BufferFor(static_cast<DWORD>(value.dataBuffer.size() * 2)));
        } else {
            value.nameBuffer.resize(nameWanted);
            value.dataBuffer.resize(dataWanted);
        }
    }
}

}  // namespace cleaner
