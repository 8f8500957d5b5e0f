// The bound on one download, shared by the calling thread and the worker thread that talks to
// WinINet.
//
// WinINet's own timeouts cannot bound a download: a server that trickles its head or its body
// keeps every single receive short, and under Wine the receive timeouts are not applied at all
// and closing a handle does not interrupt a call that waits. So the exchange runs on a worker,
// and the calling thread gives up on it when the bound is passed: the head of the final
// response must be in within the limit of the start, and after that each further 1024 bytes of
// the body must arrive within the limit. A worker given up on discards its file and ends as soon
// as WinINet returns to it; the caller has its report at once.
#pragma once

#include "error_report.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace fetchel::win32 {

// What taDownloadFile returns: its result and the text for errorText.
struct Outcome {
    std::int32_t result = 0;
    ReportText text{};
};

// The bound (rules.h), as the environment sets it.
std::chrono::milliseconds StallLimit();

class TransferWatch {
public:
    explicit TransferWatch(std::chrono::milliseconds limit) : limit_(limit) {}

    std::chrono::milliseconds Limit() const { return limit_; }

    // The worker's side.
    void HeadIsIn();
    void BodyArrived(std::uint64_t bytes) { bodyBytes_ += bytes; }
    std::string_view CurrentStep();
    bool GaveUp();
    // True when the caller still waits; from then on it waits for the outcome, however long
    // putting the file in place takes. False when it gave up: the file must not be put in place.
    bool MayCommit();
    void Finish(const Outcome& outcome);

    // The caller's side: the worker's outcome, or the timeout report of the step it was in.
    Outcome Wait();

private:
    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool headIn_ = false;
    bool committing_ = false;
    bool finished_ = false;
    bool gaveUp_ = false;
    std::atomic<std::uint64_t> bodyBytes_{0};
    Outcome outcome_;
};

}  // namespace fetchel::win32
