#include "download.h"

#include "output_file.h"
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

// The step names of the failure report, after the WinINet calls they stand for.
constexpr std::string_view kStepOpen = "InternetOpen";
constexpr std::string_view kStepOpenUrl = "InternetOpenUrl";
constexpr std::string_view kStepRead = "InternetReadFile";

constexpr const char* kTextNotFound = "File Not Accessable or Does Not Exist";
constexpr const char* kTextOpenFailed = "File Open Failed";
constexpr const char* kTextWriteFailed = "File Write Failed";

constexpr const char* kAgent = "taDownloadFile";
constexpr std::string_view kNotFoundText = "404 OBJECT NOT FOUND";
constexpr std::size_t kChunkSize = 1023;  // one read of the first chunk, tested as text
constexpr long kFirstFailingStatus = 400;
constexpr long kReceiveBufferSize = 512 * 1024;
constexpr long kMaxRedirects = 10;
constexpr std::chrono::milliseconds kDefaultStallLimit{60'000};

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The first chunk holds "404 Object Not Found" in any letter case, looked for up to its first
// zero byte, as a text search over the chunk would.
bool HoldsNotFoundText(std::string_view chunk) {
    chunk = chunk.substr(0, chunk.find('\0'));
    std::string upper(chunk);
    std::transform(upper.begin(), upper.end(), upper.begin(), AsciiUpper);
    return upper.find(kNotFoundText) != std::string::npos;
}

void SetText(char* errorText, const char* text) {
    if (errorText) std::strcpy(errorText, text);
}

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
enum class Refusal { None, NotFound, OpenFailed, WriteFailed, Stalled };

// One download: the first chunk until it has been tested, then the output file.
class Transfer {
public:
    Transfer(CURL* curl, const char* localPath, std::chrono::milliseconds stallLimit)
        : curl_(curl), localPath_(localPath ? localPath : ""), stallLimit_(stallLimit),
          lastProgress_(std::chrono::steady_clock::now()) {}

    // libcurl's write callback: body bytes in whatever pieces the connection delivers.
    std::size_t ReceiveBody(const char* data, std::size_t size) {
        bodyStarted_ = true;
        if (refusal_ != Refusal::None) return 0;
        std::string_view rest(data, size);
        if (!output_) {
            if (StatusFails()) return Refuse(Refusal::NotFound);
            rest = FillFirstChunk(rest);
            if (chunkLength_ < kChunkSize) return size;
            if (!AcceptFirstChunk()) return 0;
        }
        if (!rest.empty() && !output_->Write(rest.data(), rest.size())) {
            return Refuse(Refusal::WriteFailed);
        }
        return size;
    }

    // libcurl's progress callback, called at least once a second while the transfer runs.
    bool KeepGoing(curl_off_t received, curl_off_t sent) {
        const auto now = std::chrono::steady_clock::now();
        if (received != lastReceived_ || sent != lastSent_ || headerBytes_ != lastHeaderBytes_) {
            lastReceived_ = received;
            lastSent_ = sent;
            lastHeaderBytes_ = headerBytes_;
            lastProgress_ = now;
            return true;
        }
        if (now - lastProgress_ < stallLimit_) return true;
        refusal_ = Refusal::Stalled;
        return false;
    }

    void ReceiveHeader(std::size_t size) { headerBytes_ += size; }

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
                WriteErrorReport(errorText, CurrentStep(),
                                 WinInetErrorFromCode(kErrorInternetTimeout));
                return 0;
            case Refusal::None:
                break;
        }
        if (result != CURLE_OK) {
            long osError = 0;
            curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
            WriteErrorReport(errorText, CurrentStep(), WinInetErrorFor(result, osError));
            return 0;
        }
        if (StatusFails()) {
            SetText(errorText, kTextNotFound);
            return 0;
        }
        if (!output_) {
            if (chunkLength_ == 0) return 1;  // an empty body creates no file
            if (!AcceptFirstChunk()) return Finish(CURLE_OK, errorText);
        }
        if (!output_->Commit()) {
            SetText(errorText, kTextWriteFailed);
            return 0;
        }
        return 1;
    }

private:
    std::string_view CurrentStep() const { return bodyStarted_ ? kStepRead : kStepOpenUrl; }

    bool StatusFails() const {
        long status = 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return status >= kFirstFailingStatus;
    }

    std::size_t Refuse(Refusal refusal) {
        refusal_ = refusal;
        return 0;
    }

    // Moves bytes into the first chunk until it holds kChunkSize; returns the bytes left over.
    std::string_view FillFirstChunk(std::string_view bytes) {
        const std::size_t take = std::min(bytes.size(), kChunkSize - chunkLength_);
        std::memcpy(chunk_.data() + chunkLength_, bytes.data(), take);
        chunkLength_ += take;
        return bytes.substr(take);
    }

    // Tests the first chunk, then creates the output file and writes the chunk into it.
    bool AcceptFirstChunk() {
        if (HoldsNotFoundText({chunk_.data(), chunkLength_})) {
            Refuse(Refusal::NotFound);
            return false;
        }
        output_ = OutputFile::CreateBeside(localPath_);
        if (!output_) {
            Refuse(Refusal::OpenFailed);
            return false;
        }
        if (!output_->Write(chunk_.data(), chunkLength_)) {
            Refuse(Refusal::WriteFailed);
            return false;
        }
        return true;
    }

    CURL* curl_;
    std::string localPath_;
    std::array<char, kChunkSize> chunk_{};
    std::size_t chunkLength_ = 0;
    std::optional<OutputFile> output_;
    Refusal refusal_ = Refusal::None;
    bool bodyStarted_ = false;

    std::chrono::milliseconds stallLimit_;
    std::chrono::steady_clock::time_point lastProgress_;
    curl_off_t lastReceived_ = 0;
    curl_off_t lastSent_ = 0;
    std::size_t headerBytes_ = 0;
    std::size_t lastHeaderBytes_ = 0;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* transfer) {
    return static_cast<Transfer*>(transfer)->ReceiveBody(data, size * count);
}

std::size_t OnHeader(char*, std::size_t size, std::size_t count, void* transfer) {
    static_cast<Transfer*>(transfer)->ReceiveHeader(size * count);
    return size * count;
}

int OnProgress(void* transfer, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    return static_cast<Transfer*>(transfer)->KeepGoing(received, sent) ? 0 : 1;
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
    set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp"));
    set(curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp"));
    set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects));
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
    if (!url) return WinInetErrorFromCode(kErrorInternetInvalidUrl);
    CURLU* parsed = curl_url();
    if (!parsed) return WinInetErrorFromCode(kErrorNotEnoughMemory);
    const CURLUcode result = curl_url_set(parsed, CURLUPART_URL, url, 0);
    curl_url_cleanup(parsed);
    switch (result) {
        case CURLUE_OK:
            return std::nullopt;
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

std::chrono::milliseconds StallLimit() {
    if (const char* text = std::getenv("FETCHEL_TEST_STALL_MS"); text && *text) {
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        if (*end == '\0' && value > 0) return std::chrono::milliseconds(value);
    }
    return kDefaultStallLimit;
}

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
    return transfer.Finish(result, errorText);
}

}  // namespace fetchel
