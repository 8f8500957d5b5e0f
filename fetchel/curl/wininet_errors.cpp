#include "wininet_errors.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace fetchel {
namespace {

struct TableEntry {
    std::int32_t code;
    std::string_view message;
};

// WinINet's own English texts; the message table ends each with CR LF.
constexpr std::array kMessages = {
    TableEntry{kErrorInternetTimeout, "The operation timed out\r\n"},
    TableEntry{kErrorInternetInternalError,
               "An internal error occurred in the Microsoft Internet extensions\r\n"},
    TableEntry{kErrorInternetInvalidUrl, "The URL is invalid\r\n"},
    TableEntry{kErrorInternetUnrecognizedScheme, "The URL does not use a recognized protocol\r\n"},
    TableEntry{kErrorInternetNameNotResolved, "The server name or address could not be resolved\r\n"},
    TableEntry{kErrorInternetCannotConnect,
               "A connection with the server could not be established\r\n"},
    TableEntry{kErrorInternetConnectionAborted,
               "The connection with the server was terminated abnormally\r\n"},
    TableEntry{kErrorInternetConnectionReset, "The connection with the server was reset\r\n"},
    TableEntry{kErrorInternetInvalidCa, "The certificate authority is invalid or incorrect\r\n"},
    TableEntry{kErrorHttpInvalidServerResponse,
               "The server returned an invalid or unrecognized response\r\n"},
    TableEntry{kErrorHttpRedirectFailed, "The HTTP redirect request failed\r\n"},
    TableEntry{kErrorInternetSecurityChannelError,
               "An error occurred in the secure channel support\r\n"},
};

bool IsConnectionReset(long osError) { return osError == ECONNRESET || osError == EPIPE; }

}  // namespace

WinInetError WinInetErrorFromCode(std::int32_t code) {
    const auto entry = std::find_if(kMessages.begin(), kMessages.end(),
                                    [code](const TableEntry& e) { return e.code == code; });
    return {code, entry == kMessages.end() ? std::string_view{} : entry->message};
}

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
