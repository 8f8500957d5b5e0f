#include "cleaner/registry/failure_reports.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace cleaner {

std::string NumberText(std::int64_t number) {
    std::string text = std::to_string(number);
    if (number >= 0) {
        text.insert(text.begin(), ' ');
    }
    return text;
}

std::string RegistryFailureText(std::string_view label, std::string_view subject,
                                std::int32_t code, std::string_view systemText) {
    std::string text;
    text.append(label).append(subject);
    text.append(" - ").append(NumberText(code));
    text.append(" - ").append(systemText);
    return text;
}

std::string UnexpectedFailureText(std::string_view label, std::int32_t number,
                                  std::string_view description) {
    std::string text;
    text.append(label).append(NumberText(number));
    text.append(" : ").append(description);
    text.append("\r").append("Please exit and try again.");
    return text;
}

UnexpectedFailure::UnexpectedFailure(std::int32_t number, std::string description)
    : number_(number), description_(std::move(description)) {}

UnexpectedFailure OverflowFailure() {
    return UnexpectedFailure(kFailureOverflow, "Overflow");
}

FailureDescription DescribeFailure(const std::exception& failure) {
    if (const auto* own = dynamic_cast<const UnexpectedFailure*>(&failure)) {
        return {own->Number(), own->Description()};
    }
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
        return {kFailureOutOfMemory, "Out of memory"};
    }
    if (dynamic_cast<const std::logic_error*>(&failure) != nullptr) {
        // length_error, out_of_range, invalid_argument: a size or position out of its range.
        return {kFailureInvalidArgument, "Invalid procedure call or argument"};
    }
    return {kFailureInternal, std::string("Internal error (") + failure.what() + ")"};
}

}  // namespace cleaner
