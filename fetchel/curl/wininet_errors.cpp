#include "wininet_errors.h"

#include <cerrno>

namespace fetchel {
namespace {

bool IsConnectionReset(long osError) { return osError == ECONNRESET || osError == EPIPE; }

}  // namespace

WinInetError WinInetErrorFromCode(std::int32_t code) { return {code, WinInetText(code)}; }

WinInetError WinInetErrorFor(CURLcode result, long osError, long httpStatus) {
    switch (result) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            // The URL's own scheme was accepted, so this is a redirect to a scheme that is not
            // followed, or a reply that is not HTTP at all (libcurl takes it for HTTP/0.9).
            return WinInetErrorFromCode(httpStatus >= 300 && httpStatus < 400
                                            ? kErrorHttpRedirectFailed
                                            : kErrorHttpInvalidServerResponse);
        case CURLE_URL_MALFORMAT:
            return WinInetErrorFromCode(kErrorInternetInvalidUrl);
        case CURLE_COULDNT_RESOLVE_HOST:
            return WinInetErrorFromCode(kErrorInternetNameNotResolved);
        case CURLE_COULDNT_CONNECT:
            return WinInetErrorFromCode(kErrorInternetCannotConnect);
        case CURLE_OPERATION_TIMEDOUT:
            return WinInetErrorFromCode(kErrorInternetTimeout);
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_BAD_CONTENT_ENCODING:
            return WinInetErrorFromCode(kErrorHttpInvalidServerResponse);
        case CURLE_TOO_MANY_REDIRECTS:
            return WinInetErrorFromCode(kErrorHttpRedirectFailed);
        case CURLE_PEER_FAILED_VERIFICATION:
            return WinInetErrorFromCode(kErrorInternetInvalidCa);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
            return WinInetErrorFromCode(kErrorInternetSecurityChannelError);
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return WinInetErrorFromCode(IsConnectionReset(osError) ? kErrorInternetConnectionReset
                                                                   : kErrorInternetConnectionAborted);
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return WinInetErrorFromCode(kErrorInternetConnectionAborted);
        case CURLE_OUT_OF_MEMORY:
            return WinInetErrorFromCode(kErrorNotEnoughMemory);
        default:
            return WinInetErrorFromCode(kErrorInternetInternalError);
    }
}

}  // namespace fetchel
