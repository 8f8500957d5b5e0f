#include "transfer.h"

#include "output_file.h"
#include "rules.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <windows.h>
#include <wininet.h>

namespace fetchel::win32 {
namespace {

constexpr const char* kAgent = "taDownloadFile";
// Always from the server, nothing written into the URL cache, the body as it is sent.
constexpr DWORD kOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_TRANSFER_BINARY;
static_assert(kOpenUrlFlags == 0x84000002);
// Redirects are followed here rather than by WinINet, which (under Wine) follows a loop for ever.
constexpr DWORD kFollowFlags = kOpenUrlFlags | INTERNET_FLAG_NO_AUTO_REDIRECT;

constexpr DWORD kHeadQuerySize = 1024;

struct InternetHandleCloser {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

Outcome Failed(std::string_view step, DWORD code) { return {0, ErrorReport(step, WinInetCode(code))}; }
Outcome Refused(std::string_view text) { return {0, FixedReport(text)}; }

// WinINet's own bounds on connecting and on each send and receive. They end a silent server on
// Windows; they cannot end a trickling one, which the watch does.
void BoundWaits(HINTERNET internet, std::chrono::milliseconds limit) {
    DWORD milliseconds = static_cast<DWORD>(limit.count());
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                               INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
        InternetSetOptionA(internet, option, &milliseconds, sizeof milliseconds);
    }
}

bool IsHttpRequest(HINTERNET request) {
    DWORD type = 0;
    DWORD size = sizeof type;
    return InternetQueryOptionA(request, INTERNET_OPTION_HANDLE_TYPE, &type, &size) &&
           type == INTERNET_HANDLE_TYPE_HTTP_REQUEST;
}

// A text of the response head; nothing when the head has none.
std::optional<std::string> QueryText(HINTERNET request, DWORD info) {
    std::string text(kHeadQuerySize, '\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(text.size());
        if (HttpQueryInfoA(request, info, text.data(), &size, nullptr)) {
            text.resize(std::min<std::size_t>(size, text.size()));
            return text;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= text.size()) return std::nullopt;
        text.resize(size + 1);
    }
}

DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    return status;
}

// WinINet takes a reply that does not begin with a status line for an old-style (HTTP/0.9)
// response: status 200, no header lines, and (under Wine) the body cut. A head that lacks the
// status line or every header line is therefore no HTTP reply: the server speaks something
// else, and what it sent is nothing to store.
bool IsHttpReply(std::string_view head) {
    const auto lineEnd = head.find("\r\n");
    if (lineEnd == std::string_view::npos) return false;
    const std::string_view statusLine = head.substr(0, lineEnd);
    if (!statusLine.starts_with("HTTP/") || statusLine.starts_with("HTTP/0.")) return false;
    const std::string_view headerLines = head.substr(lineEnd + 2);
    return !headerLines.empty() && !headerLines.starts_with("\r\n");
}

// The head of the final response decides whether there is a body to store. Only a success
// status (200-299) is one: anything else is the server's page about a failure.
std::optional<Outcome> JudgeHead(HINTERNET request) {
    if (!IsHttpRequest(request)) return std::nullopt;  // ftp has no head
    const auto head = QueryText(request, HTTP_QUERY_RAW_HEADERS_CRLF);
    if (!head || !IsHttpReply(*head)) return Failed(kStepOpenUrl, kErrorHttpInvalidServerResponse);
    if (JudgeStatus(StatusCode(request), false) == HeadKind::Body) return std::nullopt;
    return Refused(kTextNotFound);
}

// Where a redirect leads: its Location against the URL that answered with it. Nothing when it
// leads to a scheme a download does not open, or holds a control character.
std::optional<std::string> RedirectTarget(const std::string& from, const std::string& location) {
    std::string to(kHeadQuerySize + from.size() + location.size(), '\0');
    DWORD size = static_cast<DWORD>(to.size());
    if (!InternetCombineUrlA(from.c_str(), location.c_str(), to.data(), &size, ICU_NO_ENCODE)) {
        return std::nullopt;
    }
    to.resize(size);
    const auto colon = to.find(':');
    if (colon == std::string::npos || !IsDownloadScheme(std::string_view(to).substr(0, colon)) ||
        HasControlCharacter(to)) {
        return std::nullopt;
    }
    return to;
}

// Opens the URL and follows its redirects, at most kMaxRedirects of them, until the caller gives
// up.
std::optional<Outcome> OpenFollowingRedirects(HINTERNET internet, std::string url, InternetHandle& request,
                                              TransferWatch& watch) {
    for (int followed = 0;; ++followed) {
        if (watch.GaveUp()) return Outcome{};
        request.reset(InternetOpenUrlA(internet, url.c_str(), nullptr, 0, kFollowFlags, 0));
        if (!request) {
            // Wine's WinINet takes a URL without a host ("http://") for a wrong argument: the URL
            // is the only argument here that comes from the caller.
            const DWORD error = GetLastError();
            const DWORD invalidUrl = kErrorInternetInvalidUrl;
            return Failed(kStepOpenUrl, error == ERROR_INVALID_PARAMETER ? invalidUrl : error);
        }
        if (!IsHttpRequest(request.get())) return std::nullopt;
        const auto location = QueryText(request.get(), HTTP_QUERY_LOCATION);
        if (JudgeStatus(StatusCode(request.get()), location.has_value()) != HeadKind::Redirect) {
            return std::nullopt;
        }
        if (followed == kMaxRedirects) return Failed(kStepOpenUrl, kErrorHttpRedirectFailed);
        auto next = RedirectTarget(url, *location);
        if (!next) return Failed(kStepOpenUrl, kErrorHttpRedirectFailed);
        url = std::move(*next);
    }
}

// The body as it arrives, counted for the watch.
//
// A read returns only when it has all it asked for or the body has ended, so the watch sees
// bytes only as reads return; yet small reads are slow (under Wine each one costs trips through
// the Wine server: 8 KiB reads fetch under 100 MB/s on loopback). So each read asks for what the
// body's rate brings in within an eighth of the limit: at least a first chunk, at most twice
// the last read and kMostPerRead. A connection that slows down abruptly by more than that
// margin can thus be given up on although it still meets the bound.
class Body {
    using Clock = std::chrono::steady_clock;

public:
    static constexpr DWORD kMostPerRead = 256 * 1024;

    Body(HINTERNET request, TransferWatch& watch)
        : request_(request), watch_(watch), announced_(AnnouncedLength(request)) {}

    // Reads size bytes, fewer only at the end of the body (got is 0 there). False when WinINet
    // fails (its code in GetLastError).
    bool Read(char* buffer, DWORD size, DWORD& got) {
        // What a server sends past the length it announced is not the body (it is stored by
        // neither build).
        if (announced_ != kNotAnnounced) {
            size = static_cast<DWORD>(std::min<std::uint64_t>(size, announced_ - received_));
        }
        got = 0;
        if (size == 0) return true;
        const auto start = Clock::now();
        if (!InternetReadFile(request_, buffer, size, &got)) return false;
        Pace(got, Clock::now() - start);
        received_ += got;
        watch_.BodyArrived(got);
        return true;
    }

    // Reads the next piece into buffer, which holds kMostPerRead bytes.
    bool ReadNext(char* buffer, DWORD& got) { return Read(buffer, nextSize_, got); }

    // A body that ended before the length its head announced: the connection was lost. (Wine's
    // WinINet reports that as a normal end.)
    std::optional<Outcome> CutShort() const {
        if (announced_ != kNotAnnounced && received_ < announced_) {
            return Failed(kStepRead, kErrorInternetConnectionAborted);
        }
        return std::nullopt;
    }

private:
    static constexpr std::uint64_t kNotAnnounced = ~std::uint64_t{0};

    // The Content-Length of an HTTP response sent as it is (not in chunks).
    static std::uint64_t AnnouncedLength(HINTERNET request) {
        if (!IsHttpRequest(request) || QueryText(request, HTTP_QUERY_TRANSFER_ENCODING)) return kNotAnnounced;
        const auto text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
        const auto length = text ? ParseContentLength(*text) : std::nullopt;
        return length ? *length : kNotAnnounced;
    }

    void Pace(DWORD got, Clock::duration took) {
        const double seconds = std::max(std::chrono::duration<double>(took).count(), 1e-4);
        const double eighth = std::chrono::duration<double>(watch_.Limit()).count() / 8;
        const double most = std::min(2.0 * nextSize_, double{kMostPerRead});
        nextSize_ = static_cast<DWORD>(std::clamp(got / seconds * eighth, double{kChunkSize}, most));
    }

    HINTERNET request_;
    TransferWatch& watch_;
    std::uint64_t announced_;
    std::uint64_t received_ = 0;
    DWORD nextSize_ = kChunkSize;
};

// An empty body: afterwards there is no file at localPath, as when none existed before, so that
// an older file cannot pass for what was fetched.
Outcome LeaveNoFile(const std::string& localPath) {
    if (RemoveTarget(localPath)) return Outcome{1, {}};
    return Refused(kTextOpenFailed);
}

}  // namespace

Outcome RunTransfer(const std::string& url, const std::string& localPath, TransferWatch& watch) {
    InternetHandle internet(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!internet) return Failed(kStepOpen, GetLastError());
    BoundWaits(internet.get(), watch.Limit());
    InternetHandle request;
    if (const auto failure = OpenFollowingRedirects(internet.get(), url, request, watch)) return *failure;
    if (const auto refusal = JudgeHead(request.get())) return *refusal;
    watch.HeadIsIn();

    // Made as soon as the head is in, so that a target that cannot be created fails before the
    // body is fetched (only its first chunk is, for the not-found test that comes first).
    std::optional<OutputFile> output = OutputFile::CreateFor(localPath);
    Body body(request.get(), watch);

    // The first chunk is 1023 bytes however the connection cuts the body.
    std::array<char, kChunkSize> chunk{};
    std::size_t chunkLength = 0;
    while (chunkLength < kChunkSize && !watch.GaveUp()) {
        DWORD got = 0;
        if (!body.Read(chunk.data() + chunkLength, static_cast<DWORD>(kChunkSize - chunkLength), got)) {
            return Failed(kStepRead, GetLastError());
        }
        if (got == 0) break;
        chunkLength += got;
    }
    if (watch.GaveUp()) return {};
    if (chunkLength == 0) {
        if (const auto cut = body.CutShort()) return *cut;
        if (!watch.MayCommit()) return {};
        return LeaveNoFile(localPath);
    }
    if (HoldsNotFoundText({chunk.data(), chunkLength})) return Refused(kTextNotFound);
    if (!output) return Refused(kTextOpenFailed);
    if (!output->Write(chunk.data(), chunkLength)) return Refused(kTextWriteFailed);

    std::vector<char> buffer(Body::kMostPerRead);
    for (;;) {
        if (watch.GaveUp()) return {};
        DWORD got = 0;
        if (!body.ReadNext(buffer.data(), got)) return Failed(kStepRead, GetLastError());
        if (got == 0) break;
        if (!output->Write(buffer.data(), got)) return Refused(kTextWriteFailed);
    }
    if (const auto cut = body.CutShort()) return *cut;
    if (!watch.MayCommit()) return {};
    if (!output->Commit()) return Refused(kTextWriteFailed);
    return Outcome{1, {}};
}

}  // namespace fetchel::win32
