#include "serial/platform/format_message.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct SystemMessage {
    DWORD Id;
    std::string_view Text;
};

// The Windows errors the serial platform maps errno onto, and their neighbours that a driver can
// report while opening, configuring or reading a port. Sorted by number.
constexpr std::array kSystemMessages = {
    SystemMessage{1, "Incorrect function."},
    SystemMessage{2, "The system cannot find the file specified."},
    SystemMessage{3, "The system cannot find the path specified."},
    SystemMessage{4, "The system cannot open the file."},
    SystemMessage{5, "Access is denied."},
    SystemMessage{6, "The handle is invalid."},
    SystemMessage{8, "Not enough memory resources are available to process this command."},
    SystemMessage{13, "The data is invalid."},
    SystemMessage{21, "The device is not ready."},
    SystemMessage{22, "The device does not recognize the command."},
    SystemMessage{23, "Data error (cyclic redundancy check)."},
    SystemMessage{31, "A device attached to the system is not functioning."},
    SystemMessage{
        32, "The process cannot access the file because it is being used by another process."},
    SystemMessage{87, "The parameter is incorrect."},
    SystemMessage{121, "The semaphore timeout period has expired."},
    SystemMessage{995, "The I/O operation has been aborted because of either a thread exit or an "
                       "application request."},
    SystemMessage{997, "Overlapped I/O operation is in progress."},
    SystemMessage{1117, "The request could not be performed because of an I/O device error."},
    SystemMessage{1167, "The device is not connected."},
    SystemMessage{1314, "A required privilege is not held by the client."},
    SystemMessage{1450, "Insufficient system resources exist to complete the requested service."},
    SystemMessage{1460, "This operation returned because the timeout period expired."},
};

static_assert(std::ranges::is_sorted(kSystemMessages, {}, &SystemMessage::Id));

} // namespace

std::string FormatMessageA(DWORD MessageId) {
    auto found = std::ranges::lower_bound(kSystemMessages, MessageId, {}, &SystemMessage::Id);
    if (found == kSystemMessages.end() || found->Id != MessageId)
        return {};
    return std::string(found->Text) + "\r\n";
}
