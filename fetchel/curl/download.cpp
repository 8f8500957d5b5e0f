#include "download.h"

#include "output_file.h"
#include "report.h"
#include "rules.h"
#include "wininet_errors.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <curl/curl.h>

namespace fetchel {
namespace {

constexpr const char* kAgent = "taDownloadFile";
constexpr long kReceiveBufferSize = 512 * 1024;
// The schemes a download opens (IsDownloadScheme), as libcurl writes them.
constexpr const char* kProtocols = "http,https,ftp";

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void SetText(char* errorText, std::string_view text) { CopyReport(errorText, FixedReport(text)); }

bool InitialiseCurlOnce() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct EasyHandleDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

// What stopped a transfer from inside libcurl's callbacks.
enum class Refusal { None, NotFound, OpenFailed, WriteFailed, Stalled, OutOfMemory };

bool StartsWithLetterCaseAside(std::string_view text, std::string_view start) {
    return text.size() >= start.size() &&
           std::equal(start.begin(), start.end(), text.begin(),
                      [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); });
}

// One download, in WinINet's two steps: until the head of the final response is in, the URL is
// being opened ("InternetOpenUrl"); after that the body is read ("InternetReadFile").
class Transfer {
    using Clock = std::chrono::steady_clock;

public:
    Transfer(CURL* curl, const char* localPath, std::chrono::milliseconds stallLimit)
        : curl_(curl), localPath_(localPath ? localPath : ""), stallLimit_(stallLimit),
          start_(Clock::now()) {}

    // libcurl's header callback: the lines of every response head, one at a time (and the
    // trailers of a chunked body, which are not looked at).
    bool ReceiveHeaderLine(std::string_view line) {
        if (headersIn_) return true;
        if (line.starts_with("HTTP/")) {
            inHttpHead_ = true;
            sawHttpHead_ = true;
            headHasLocation_ = false;
        } else if (StartsWithLetterCaseAside(line, "Location:")) {
            headHasLocation_ = true;
        } else if (inHttpHead_ && (line == "\r\n" || line == "\n")) {
            inHttpHead_ = false;
            return EndOfHead();
        }
        return true;
    }

    // libcurl's write callback: body bytes in whatever pieces the connection delivers.
    std::size_t ReceiveBody(const char* data, std::size_t size) {
        if (refusal_ != Refusal::None) return 0;
        if (!headersIn_ && !StartBody()) return 0;  // a protocol without a head (ftp)
        bodyBytes_ += size;
        std::string_view rest(data, size);
        if (!firstChunkAccepted_) {
            rest = FillFirstChunk(rest);
            if (chunkLength_ < kChunkSize) return size;
            if (!AcceptFirstChunk()) return 0;
        }
        if (!rest.empty() && !output_->Write(rest.data(), rest.size())) {
            Refuse(Refusal::WriteFailed);
            return 0;
        }
        return size;
    }

    // libcurl's progress callback, called at least once a second while the transfer runs. The
    // head of the final response must be in within the stall limit of the start (however it
    // trickles in); after that, at least kMinimumProgress bytes of the body must arrive within
    // each stall limit. A trickle of bytes cannot keep a transfer alive.
    bool KeepGoing() {
        const auto now = Clock::now();
        if (headersIn_ && bodyBytes_ - windowBytes_ >= kMinimumProgress) {
            windowStart_ = now;
            windowBytes_ = bodyBytes_;
        }
        if (now - (headersIn_ ? windowStart_ : start_) < stallLimit_) return true;
        Refuse(Refusal::Stalled);
        return false;
    }

    // An exception inside a callback (no memory) must not unwind through libcurl.
    void RunOutOfMemory() { refusal_ = Refusal::OutOfMemory; }

    // After libcurl has finished: the file complete and in place, or the failure in errorText.
    std::int32_t Finish(CURLcode result, char* errorText) {
        switch (refusal_) {
            case Refusal::NotFound:
                SetText(errorText, kTextNotFound);
                return 0;
            case Refusal::OpenFailed:
                SetText(errorText, kTextOpenFailed);
                return 0;
            case Refusal::WriteFailed:
                SetText(errorText, kTextWriteFailed);
                return 0;
            case Refusal::Stalled:
                WriteErrorReport(errorText, CurrentStep(), WinInetErrorFromCode(kErrorInternetTimeout));
                return 0;
            case Refusal::OutOfMemory:
                WriteErrorReport(errorText, CurrentStep(), WinInetErrorFromCode(kErrorNotEnoughMemory));
                return 0;
            case Refusal::None:
                break;
        }
        if (result != CURLE_OK) {
            long osError = 0;
            curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
            WriteErrorReport(errorText, CurrentStep(), WinInetErrorFor(result, osError, ResponseStatus()));
            return 0;
        }
        // A final response without a body may end the transfer before its head was judged.
        if (!headersIn_ && !StartBody()) return Finish(result, errorText);
        if (!firstChunkAccepted_) {
            if (chunkLength_ == 0) return LeaveNoFile(errorText);
            if (!AcceptFirstChunk()) return Finish(result, errorText);
        }
        if (!output_->Commit()) {
            SetText(errorText, kTextWriteFailed);
            return 0;
        }
        return 1;
    }

private:
    std::string_view CurrentStep() const { return headersIn_ ? kStepRead : kStepOpenUrl; }

    long ResponseStatus() const {
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

    // The blank line after a head: an interim response (100 Continue) and a redirect that
    // libcurl follows are passed over; the head of the final response starts the body.
    bool EndOfHead() {
        const HeadKind kind = JudgeStatus(ResponseStatus(), headHasLocation_);
        if (kind == HeadKind::Interim || kind == HeadKind::Redirect) return true;
        return StartBody();
    }

    // The final response's head is in. Only a success status (200-299) is a body to store:
    // anything else is the server's page about a failure or a redirect that cannot be followed.
    // The output file is created now, so that a target that cannot be created fails before the
    // body is fetched (only its first chunk is, for the not-found test that comes first).
    bool StartBody() {
        headersIn_ = true;
        windowStart_ = Clock::now();
        if (sawHttpHead_ && JudgeStatus(ResponseStatus(), false) != HeadKind::Body) return Refuse(Refusal::NotFound);
        output_ = OutputFile::CreateFor(localPath_);
        return true;
    }

    bool Refuse(Refusal refusal) {
        refusal_ = refusal;
        return false;
    }

    // Moves bytes into the first chunk until it holds kChunkSize; returns the bytes left over.
    std::string_view FillFirstChunk(std::string_view bytes) {
        const std::size_t take = std::min(bytes.size(), kChunkSize - chunkLength_);
        std::memcpy(chunk_.data() + chunkLength_, bytes.data(), take);
        chunkLength_ += take;
        return bytes.substr(take);
    }

    // Tests the first chunk, then writes it into the output file.
    bool AcceptFirstChunk() {
        firstChunkAccepted_ = true;
        if (HoldsNotFoundText({chunk_.data(), chunkLength_})) return Refuse(Refusal::NotFound);
        if (!output_) return Refuse(Refusal::OpenFailed);
        if (!output_->Write(chunk_.data(), chunkLength_)) return Refuse(Refusal::WriteFailed);
        return true;
    }

    // An empty body: afterwards there is no file at localPath, as when none existed before.
    std::int32_t LeaveNoFile(char* errorText) {
        output_.reset();
        if (RemoveTarget(localPath_)) return 1;
        SetText(errorText, kTextOpenFailed);
        return 0;
    }

    CURL* curl_;
    std::string localPath_;
    std::chrono::milliseconds stallLimit_;
    Clock::time_point start_;
    Refusal refusal_ = Refusal::None;

    bool inHttpHead_ = false;
    bool sawHttpHead_ = false;
    bool headHasLocation_ = false;
    bool headersIn_ = false;

    std::array<char, kChunkSize> chunk_{};
    std::size_t chunkLength_ = 0;
    bool firstChunkAccepted_ = false;
    std::optional<OutputFile> output_;

    std::uint64_t bodyBytes_ = 0;
    std::uint64_t windowBytes_ = 0;
    Clock::time_point windowStart_;
};

// The callbacks catch what the transfer throws: an exception must not cross libcurl's C frames.
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* transfer) {
    auto& t = *static_cast<Transfer*>(transfer);
    try {
        return t.ReceiveBody(data, size * count);
    } catch (...) {
        t.RunOutOfMemory();
        return 0;
    }
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* transfer) {
    auto& t = *static_cast<Transfer*>(transfer);
    try {
        return t.ReceiveHeaderLine({data, size * count}) ? size * count : 0;
    } catch (...) {
        t.RunOutOfMemory();
        return 0;
    }
}

int OnProgress(void* transfer, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(transfer)->KeepGoing() ? 0 : 1;
}

// The options that make libcurl behave as WinINet does for this call: direct access, always from
// the server, redirects followed, the body as it is sent.
bool Configure(CURL* curl, const char* url, Transfer& transfer,
               std::chrono::milliseconds stallLimit) {
    bool ok = true;
    const auto set = [&ok](CURLcode result) { ok = ok && result == CURLE_OK; };
    set(curl_easy_setopt(curl, CURLOPT_URL, url));
    set(curl_easy_setopt(curl, CURLOPT_USERAGENT, kAgent));
    set(curl_easy_setopt(curl, CURLOPT_PROXY, ""));
    set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols));
    set(curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols));
    set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects)));
    set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize));
    set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(stallLimit.count())));
    set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody));
    set(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer));
    set(curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader));
    set(curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer));
    set(curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress));
    set(curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer));
    set(curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L));
    return ok;
}

// WinINet refuses a URL without a scheme of its own (12006) and one it cannot parse (12005)
// before it connects; libcurl would guess "http://" for the first.
std::optional<WinInetError> RefuseUrl(const char* url) {
    if (!url || HasControlCharacter(url)) return WinInetErrorFromCode(kErrorInternetInvalidUrl);
    CURLU* parsed = curl_url();
    if (!parsed) return WinInetErrorFromCode(kErrorNotEnoughMemory);
    CURLUcode result = curl_url_set(parsed, CURLUPART_URL, url, 0);
    char* scheme = nullptr;
    if (result == CURLUE_OK) result = curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
    const bool known = scheme && IsDownloadScheme(scheme);
    curl_free(scheme);
    curl_url_cleanup(parsed);
    switch (result) {
        case CURLUE_OK:
            if (known) return std::nullopt;
            return WinInetErrorFromCode(kErrorInternetUnrecognizedScheme);
        case CURLUE_BAD_SCHEME:
        case CURLUE_UNSUPPORTED_SCHEME:
            return WinInetErrorFromCode(kErrorInternetUnrecognizedScheme);
        case CURLUE_OUT_OF_MEMORY:
            return WinInetErrorFromCode(kErrorNotEnoughMemory);
        default:
            return WinInetErrorFromCode(kErrorInternetInvalidUrl);
    }
}

}  // namespace

std::chrono::milliseconds StallLimit() { return StallLimitFrom(std::getenv(kStallLimitVariable)); }

std::int32_t DownloadFile(const char* url, const char* localPath, char* errorText) {
    if (errorText) errorText[0] = '\0';
    if (!InitialiseCurlOnce()) {
        WriteErrorReport(errorText, kStepOpen, WinInetErrorFromCode(kErrorInternetInternalError));
        return 0;
    }
    EasyHandle curl(curl_easy_init());
    if (!curl) {
        WriteErrorReport(errorText, kStepOpen, WinInetErrorFromCode(kErrorInternetInternalError));
        return 0;
    }
    if (const auto refused = RefuseUrl(url)) {
        WriteErrorReport(errorText, kStepOpenUrl, *refused);
        return 0;
    }
    const auto stallLimit = StallLimit();
    Transfer transfer(curl.get(), localPath, stallLimit);
    if (!Configure(curl.get(), url, transfer, stallLimit)) {
        WriteErrorReport(errorText, kStepOpenUrl, WinInetErrorFromCode(kErrorInternetInvalidUrl));
        return 0;
    }
    const CURLcode result = curl_easy_perform(curl.get());
    try {
        return transfer.Finish(result, errorText);
    } catch (...) {
        transfer.RunOutOfMemory();
        return transfer.Finish(result, errorText);  // reports without allocating
    }
}

}  // namespace fetchel
