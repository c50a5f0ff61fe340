#include "serial/apd_exceptions.h"

#include "serial/error_message_text.h"

EAPDException::EAPDException(int Code)
    : std::runtime_error(ErrorMessageText(Code)), ErrorCode(Code) {}

EAPDException::EAPDException(const std::string& Message)
    : std::runtime_error(Message), ErrorCode(0) {}

EAPDException::EAPDException(int Code, const std::string& Message)
    : std::runtime_error(Message), ErrorCode(Code) {}
