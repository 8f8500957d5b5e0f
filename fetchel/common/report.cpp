#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fetchel {

ReportText ErrorReport(std::string_view step, const WinInetError& error) {
    const auto stepLength = static_cast<int>(std::min<std::size_t>(step.size(), 16));
    const auto messageLength = static_cast<int>(std::min<std::size_t>(error.message.size(), 255));
    ReportText report{};
    std::snprintf(report.data(), report.size(), "%.*s error code: %d\nMessage: %.*s\n", stepLength,
                  step.data(), static_cast<int>(error.code), messageLength, error.message.data());
    return report;
}

ReportText FixedReport(std::string_view text) {
    ReportText report{};
    std::copy_n(text.begin(), std::min(text.size(), report.size() - 1), report.begin());
    return report;
}

void CopyReport(char* errorText, const ReportText& report) {
    if (errorText) std::strcpy(errorText, report.data());
}

void WriteErrorReport(char* errorText, std::string_view step, const WinInetError& error) {
    CopyReport(errorText, ErrorReport(step, error));
}

}  // namespace fetchel
