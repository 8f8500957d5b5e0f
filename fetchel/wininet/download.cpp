#include "download.h"

#include "rules.h"
#include "transfer.h"
#include "transfer_watch.h"

#include <cstring>
#include <memory>
#include <string>

#include <windows.h>

namespace fetchel::win32 {
namespace {

// What the worker thread owns: its own copies of the arguments, its share of the watch, and a
// reference on this library, so that a caller that gave up on it may unload the library while
// the worker still waits for WinINet.
struct Job {
    std::string url;
    std::string localPath;
    std::shared_ptr<TransferWatch> watch;
    HMODULE library = nullptr;
};

const char kLibraryAnchor = 0;  // an address inside this library

DWORD WINAPI RunJob(void* parameter) {
    HMODULE library = nullptr;
    {
        const std::unique_ptr<Job> job(static_cast<Job*>(parameter));
        library = job->library;
        TransferWatch& watch = *job->watch;
        try {
            watch.Finish(RunTransfer(job->url, job->localPath, watch));
        } catch (...) {
            watch.Finish(Outcome{0, ErrorReport(watch.CurrentStep(), kErrorNotEnoughMemory)});
        }
    }
    FreeLibraryAndExitThread(library, 0);
}

Outcome RunOnWorker(const char* url, const char* localPath) {
    auto watch = std::make_shared<TransferWatch>(StallLimit());
    auto job = std::make_unique<Job>(Job{url, localPath ? localPath : "", watch, nullptr});
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, &kLibraryAnchor, &job->library)) {
        return Outcome{0, ErrorReport(kStepOpen, GetLastError())};
    }
    HANDLE thread = CreateThread(nullptr, 0, RunJob, job.get(), 0, nullptr);
    if (!thread) {
        const DWORD error = GetLastError();
        FreeLibrary(job->library);
        return Outcome{0, ErrorReport(kStepOpen, error)};
    }
    job.release();  // the worker's now
    CloseHandle(thread);
    return watch->Wait();
}

}  // namespace

std::int32_t DownloadFile(const char* url, const char* localPath, char* errorText) {
    if (errorText) errorText[0] = '\0';
    // A missing URL, and one with a control character (which WinINet would send on as it is:
    // a CR LF would end the request line), are refused as WinINet refuses one it cannot parse.
    const Outcome outcome = url && !HasControlCharacter(url)
                                ? RunOnWorker(url, localPath)
                                : Outcome{0, ErrorReport(kStepOpenUrl, kErrorInternetInvalidUrl)};
    if (errorText) std::strcpy(errorText, outcome.text.data());
    return outcome.result;
}

}  // namespace fetchel::win32
