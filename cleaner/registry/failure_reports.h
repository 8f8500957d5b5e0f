// The two report forms of the registry layer, and the unexpected failures it knows.
//
// A registry failure report names the operation, its subject, the platform's result code and
// the system's text for it. An unexpected-failure report is shown for anything else that goes
// wrong inside an operation (memory, an index that cannot advance, a text that cannot grow);
// the numbers and wordings of those failures are defined here, after the classic Basic
// run-time's own error numbers (5, 6, 7, 51).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace cleaner {

// A number as the classic number-to-text conversion writes it: a blank in the sign position
// before a number that is not negative (" 5"), a minus sign otherwise ("-5").
std::string NumberText(std::int64_t number);

// label + subject + " - " + code + " - " + system text.
std::string RegistryFailureText(std::string_view label, std::string_view subject,
                                std::int32_t code, std::string_view systemText);

// label + number + " : " + description + CR (no LF) + "Please exit and try again.".
std::string UnexpectedFailureText(std::string_view label, std::int32_t number,
                                  std::string_view description);

// The unexpected failures this layer reports, by number.
inline constexpr std::int32_t kFailureInvalidArgument = 5;  // a text or size out of its range
inline constexpr std::int32_t kFailureOverflow = 6;         // a walk position past 2147483647
inline constexpr std::int32_t kFailureOutOfMemory = 7;
inline constexpr std::int32_t kFailureInternal = 51;        // any other failure

// Raised inside the layer for a failure that is not a registry result code.
class UnexpectedFailure : public std::exception {
public:
    UnexpectedFailure(std::int32_t number, std::string description);
    std::int32_t Number() const { return number_; }
    const std::string& Description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::int32_t number_;
    std::string description_;
};

// An index that cannot be advanced any further.
UnexpectedFailure OverflowFailure();

// The number and description under which a caught exception is reported.
struct FailureDescription {
    std::int32_t number;
    std::string description;
};
FailureDescription DescribeFailure(const std::exception& failure);

}  // namespace cleaner
