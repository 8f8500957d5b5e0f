#include "transfer_watch.h"

#include "rules.h"

#include <windows.h>

namespace fetchel::win32 {
std::chrono::milliseconds StallLimit() {
    char text[32] = {};
    const DWORD length = GetEnvironmentVariableA(kStallLimitVariable, text, sizeof text);
    return StallLimitFrom(length > 0 && length < sizeof text ? text : nullptr);
}

void TransferWatch::HeadIsIn() {
    std::lock_guard lock(mutex_);
    headIn_ = true;
    changed_.notify_all();
}

std::string_view TransferWatch::CurrentStep() {
    std::lock_guard lock(mutex_);
    return headIn_ ? kStepRead : kStepOpenUrl;
}

bool TransferWatch::GaveUp() {
    std::lock_guard lock(mutex_);
    return gaveUp_;
}

bool TransferWatch::MayCommit() {
    std::lock_guard lock(mutex_);
    if (gaveUp_) return false;
    committing_ = true;
    changed_.notify_all();
    return true;
}

void TransferWatch::Finish(const Outcome& outcome) {
    std::lock_guard lock(mutex_);
    outcome_ = outcome;
    finished_ = true;
    changed_.notify_all();
}

Outcome TransferWatch::Wait() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);
    auto deadline = Clock::now() + limit_;
    bool headSeen = false;
    std::uint64_t counted = 0;
    for (;;) {
        const bool news = changed_.wait_until(lock, deadline, [&] {
            return finished_ || committing_ || headIn_ != headSeen;
        });
        if (finished_) return outcome_;
        if (committing_) {
            changed_.wait(lock, [&] { return finished_; });
            return outcome_;
        }
        if (news || (headSeen && bodyBytes_ - counted >= kMinimumProgress)) {
            // The head came in, or enough of the body: the next limit starts now.
            headSeen = true;
            counted = bodyBytes_;
            deadline = Clock::now() + limit_;
            continue;
        }
        gaveUp_ = true;
        return Outcome{0, ErrorReport(headIn_ ? kStepRead : kStepOpenUrl, kErrorInternetTimeout)};
    }
}

}  // namespace fetchel::win32
