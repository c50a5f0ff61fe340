#include "serial/check_exception.h"

#include "runtime/exceptions.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/error_message_text.h"

namespace {

constexpr int kOutOfMemory = -8;
constexpr int kFirstSystemError = -162;
constexpr int kLastSystemError = -2;

// Raises the class the code belongs to; returns when the code has none.
void RaiseCodeClass(int Code) {
    switch (Code) {
#define TOLVANE_APD_RAISE_LEAF(Class, Group, LeafCode)                                             \
    case LeafCode:                                                                                 \
        throw Class(Code);
        TOLVANE_APD_LEAF_EXCEPTIONS(TOLVANE_APD_RAISE_LEAF)
#undef TOLVANE_APD_RAISE_LEAF
    case EPortAccessDenied::Code:
        throw EPortAccessDenied(Code);
    case -7003:
    case -7006:
    case -7012:
        throw EInternal(Code);
    case -6006:
    case -6008:
    case -6009:
        throw EProtocol(Code);
    default:
        return;
    }
}

} // namespace

int CheckException(const TApdBaseComponent* Component, int Code) {
    if (Code >= 0)
        return Code;
    if (Component != nullptr && Component->Loading())
        return Code;
    RaiseCodeClass(Code);
    if (Code == kOutOfMemory)
        throw EOutOfMemory();
    if (Code >= kFirstSystemError && Code <= kLastSystemError)
        throw EInOutError(-Code, ErrorMessageText(-Code));
    throw EAPDException(std::string("Ruvo exception"));
}
