#include "common/httpclient.h"

namespace common::http {

ErrorKind kindOf(const Ended& ended)
{
    switch (ended.failure) {
    case Failure::TooLarge:
    case Failure::RedirectElsewhere:
    case Failure::TooManyRedirects:
        return ErrorKind::Permanent;
    default:
        break;
    }
    if (ended.status >= 400 && ended.status <= 499) {
        return ErrorKind::Permanent;
    }
    if (ended.failure == Failure::TimedOut && ended.status == 0) {
        return ErrorKind::TimedOut;
    }
    return ErrorKind::Passing;
}

Failure failureOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return Failure::None;
    case CURLE_COULDNT_CONNECT:
        return Failure::Refused;
    case CURLE_COULDNT_RESOLVE_HOST:
        return Failure::NoHost;
    case CURLE_OPERATION_TIMEDOUT:
        return Failure::TimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return Failure::CutShort;
    case CURLE_OUT_OF_MEMORY: // what libcurl answers for a header past its 100 kB
        return Failure::HeaderTooLarge;
    default:
        return Failure::Other;
    }
}

} // namespace common::http
