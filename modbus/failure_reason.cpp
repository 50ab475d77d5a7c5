#include "modbus/failure_reason.h"

#include "modbus/connection_path.h"
#include "modbus/modbus_link.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>

namespace mistvale {

const char* const kReasonNotANumber = "Not a number for this format";
const char* const kReasonBadRegisterPath = "Not a register path";
const char* const kReasonNoConnection = "The group's connection names no device";

namespace {

const char* ExceptionName(int code) {
    switch (code) {
    case MODBUS_EXCEPTION_ILLEGAL_FUNCTION:
        return "illegal function";
    case MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS:
        return "illegal data address";
    case MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE:
        return "illegal data value";
    case MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE:
        return "device failure";
    case MODBUS_EXCEPTION_ACKNOWLEDGE:
        return "acknowledge: busy with a long request";
    case MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY:
        return "device busy";
    case MODBUS_EXCEPTION_NEGATIVE_ACKNOWLEDGE:
        return "negative acknowledge";
    case MODBUS_EXCEPTION_MEMORY_PARITY:
        return "memory parity error";
    case MODBUS_EXCEPTION_GATEWAY_PATH:
        return "gateway path unavailable";
    case MODBUS_EXCEPTION_GATEWAY_TARGET:
        return "gateway target failed to respond";
    default:
        return "unknown exception";
    }
}

// A deadline as it applied: tenths where they say it exactly, else hundredths (0.05 s, 0.76 s).
std::string Seconds(long long us) {
    char text[32];
    std::snprintf(text, sizeof text, us % 100000 == 0 ? "%.1f" : "%.2f", static_cast<double>(us) / 1e6);
    return text;
}

} // namespace

std::string DescribeLinkFailure(const ConnectionPath& path, int error, bool opening,
                                const std::string& device, long long timeoutUs) {
    const bool tcp = path.kind == ConnectionKind::Tcp;
    const std::string host = path.server.ToUtf8();
    const std::string endpoint = host + ":" + path.tcpPort.ToUtf8();
    const std::string port = device.empty() ? path.port.ToUtf8() : device;
    if (path.kind != ConnectionKind::Tcp && path.kind != ConnectionKind::Serial)
        return kReasonNoConnection;

    if (error > MODBUS_ENOBASE && error <= MODBUS_ENOBASE + MODBUS_EXCEPTION_GATEWAY_TARGET) {
        const int code = error - MODBUS_ENOBASE;
        return "Modbus exception " + std::to_string(code) + " (" + ExceptionName(code) + ")";
    }
    switch (error) {
    case EMBBADCRC:
        return "Reply failed its CRC check";
    case EMBBADSLAVE:
        return "Reply came from another slave";
    case EMBBADDATA:
    case EMBMDATA:
        return "Reply did not fit the request";
    case EMBBADEXC:
    case EMBUNKEXC:
        return "Reply carried an unknown exception";
    case kLinkErrorHostNotFound:
        return "Host " + host + " not found";
    case kLinkErrorOtherTransaction:
        return "Reply answered another request (its transaction id is not the request's)";
    case EPROTO:
        return "Reply was not Modbus (its header is not valid)";
    case EMSGSIZE:
        return "Reply was longer than any Modbus frame";
    default:
        break;
    }
    if (tcp) {
        switch (error) {
        case ECONNREFUSED:
            return "Connection refused by " + endpoint;
        case ETIMEDOUT:
            return opening ? "Connect to " + endpoint + " timed out"
                           : "No reply from " + endpoint + " within " + Seconds(timeoutUs) + " s";
        case ECONNRESET:
        case EPIPE:
            return "Connection closed by " + endpoint;
        case ENETUNREACH:
            return "Network unreachable for " + endpoint;
        case EHOSTUNREACH:
            return "Host " + host + " unreachable";
        default:
            break;
        }
    } else {
        switch (error) {
        case ENODEV:
        case ENOENT:
        case ENXIO:
            return "Serial port " + path.port.ToUtf8() + " is not present";
        case EBUSY:
            return port + " is in use by another program";
        case EACCES:
        case EPERM:
            return port +
                   ": permission denied. Add yourself to the dialout group: sudo adduser $USER dialout, then "
                   "log in again";
        case ETIMEDOUT:
            return "No reply from slave " + std::to_string(path.slave) + " within " + Seconds(timeoutUs) +
                   " s";
        case EINVAL:
            return "The serial settings of the group are not valid";
        case EIO:
            return port + " failed (the adapter may have been unplugged)";
        default:
            break;
        }
    }
    if (error == 0)
        return opening ? "The connection could not be opened" : "The request failed";
    return (opening ? "Cannot open: " : "Request failed: ") + std::string(modbus_strerror(error));
}

} // namespace mistvale
