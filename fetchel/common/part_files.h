// The temporary files of downloads in progress, named alike by both builds:
// "<target name><marker><process id>-<n>-<8 hex digits>", or ".fetchel<marker>..." in the same
// folder when that would not fit. The marker tells whose process ids the names hold: ".part-"
// for the Linux library, ".part-w" for fetchel.dll (Windows process ids).
//
// A download holds a lock on its file while it runs. A file is abandoned (left by a download that
// was killed) when the process its name holds is another one and is gone; the platform then
// removes it only if nobody holds that lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fetchel {

inline constexpr std::string_view kPosixPartMarker = ".part-";
inline constexpr std::string_view kWindowsPartMarker = ".part-w";

// The name of a temporary file for the target name; room is the longest name the platform
// accepts there.
std::string PartFileName(std::string_view targetName, std::string_view marker, std::uint64_t process,
                         std::uint32_t counter, std::uint32_t random, std::size_t room);

// The process that made a temporary file, read from its name; 0 for any other name.
std::uint64_t PartFileOwner(std::string_view name, std::string_view marker);

// Whether the file of that name is a temporary file left by a process that is gone.
bool IsAbandonedPartFile(std::string_view name, std::string_view marker, std::uint64_t self,
                         const std::function<bool(std::uint64_t)>& processIsGone);

}  // namespace fetchel
