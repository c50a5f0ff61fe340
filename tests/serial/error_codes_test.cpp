// Failure codes to exceptions and texts: CheckException and ErrorMessageText over the embedded
// message table and the operating system's texts.

#include "runtime/exceptions.h"
#include "serial/apd_com_port.h"
#include "serial/apd_exceptions.h"
#include "serial/check_exception.h"
#include "serial/error_message_text.h"

#include <gtest/gtest.h>

#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

namespace {

template <class Group> bool InGroup(const EAPDException& e) {
    return dynamic_cast<const Group*>(&e) != nullptr;
}

struct ClassCase {
    int Code;
    std::type_index Class;
    const char* ClassName;
    bool (*IsInGroup)(const EAPDException&);
};

#define CLASS_CASE(Code, Class, Group)                                                             \
    ClassCase {                                                                                    \
        Code, typeid(Class), #Class, InGroup<Group>                                                \
    }

// Every code that has a class of its own, with its class and group.
// clang-format off
const std::vector<ClassCase> kClassCases = {
    CLASS_CASE(-1002, EBadArgument, EGeneral), CLASS_CASE(-1003, EGotQuitMsg, EGeneral),
    CLASS_CASE(-1004, EBufferTooBig, EGeneral), CLASS_CASE(-1005, EPortNotAssigned, EGeneral),
    CLASS_CASE(-1006, EInternal, EGeneral), CLASS_CASE(-7003, EInternal, EGeneral),
    CLASS_CASE(-7006, EInternal, EGeneral), CLASS_CASE(-7012, EInternal, EGeneral),
    CLASS_CASE(-1007, EModemNotAssigned, EGeneral),
    CLASS_CASE(-1008, EPhonebookNotAssigned, EGeneral),
    CLASS_CASE(-1009, ECannotUseWithWinSock, EGeneral), CLASS_CASE(-2001, EBadId, EOpenComm),
    CLASS_CASE(-2002, EBaudRate, EOpenComm), CLASS_CASE(-2003, EByteSize, EOpenComm),
    CLASS_CASE(-2004, EDefault, EOpenComm), CLASS_CASE(-2005, EHardware, EOpenComm),
    CLASS_CASE(-2006, EMemory, EOpenComm), CLASS_CASE(-2007, ECommNotOpen, EOpenComm),
    CLASS_CASE(-2008, EAlreadyOpen, EOpenComm), CLASS_CASE(-2009, ENoHandles, EOpenComm),
    CLASS_CASE(-2010, ENoTimers, EOpenComm), CLASS_CASE(-2011, ENoPortSelected, EOpenComm),
    CLASS_CASE(-2012, ENotOpenedByTapi, EOpenComm), CLASS_CASE(-3001, ENullApi, ESerialIO),
    CLASS_CASE(-3003, ERegisterHandlerFailed, ESerialIO),
    CLASS_CASE(-3004, EPutBlockFail, ESerialIO), CLASS_CASE(-3005, EGetBlockFail, ESerialIO),
    CLASS_CASE(-3006, EOutputBufferTooSmall, ESerialIO),
    CLASS_CASE(-3007, EBufferIsEmpty, ESerialIO), CLASS_CASE(-3008, ETracingNotEnabled, ESerialIO),
    CLASS_CASE(-3009, ELoggingNotEnabled, ESerialIO),
    CLASS_CASE(-3010, EBaseAddressNotSet, ESerialIO), CLASS_CASE(-4001, EModemNotStarted, EModem),
    CLASS_CASE(-4002, EModemBusy, EModem), CLASS_CASE(-4003, EModemNotDialing, EModem),
    CLASS_CASE(-4004, ENotDialing, EModem), CLASS_CASE(-4005, EAlreadyDialing, EModem),
    CLASS_CASE(-4006, EModemNotResponding, EModem),
    CLASS_CASE(-4007, EModemRejectedCommand, EModem),
    CLASS_CASE(-4008, EModemStatusMismatch, EModem), CLASS_CASE(-5002, ETriggerTooLong, ETrigger),
    CLASS_CASE(-5003, EBadTriggerHandle, ETrigger), CLASS_CASE(-6006, EProtocol, EProtocol),
    CLASS_CASE(-6008, EProtocol, EProtocol), CLASS_CASE(-6009, EProtocol, EProtocol),
    CLASS_CASE(-7001, EKeyTooLong, EINI), CLASS_CASE(-7002, EDataTooLarge, EINI),
    CLASS_CASE(-7004, EIniWrite, EINI), CLASS_CASE(-7005, EIniRead, EINI),
    CLASS_CASE(-7007, ERecordExists, EINI), CLASS_CASE(-7008, ERecordNotFound, EINI),
    CLASS_CASE(-7010, EDatabaseFull, EINI), CLASS_CASE(-7011, EDatabaseEmpty, EINI),
    CLASS_CASE(-7013, EBadFieldList, EINI), CLASS_CASE(-7014, EBadFieldForIndex, EINI),
    CLASS_CASE(-8001, EFaxBadFormat, EFax), CLASS_CASE(-8002, EBadGraphicsFormat, EFax),
    CLASS_CASE(-8003, EConvertAbort, EFax), CLASS_CASE(-8004, EUnpackAbort, EFax),
    CLASS_CASE(-8005, ECantMakeBitmap, EFax), CLASS_CASE(-8053, EInvalidPageNumber, EFax),
    CLASS_CASE(-8060, EFaxBadMachine, EFax), CLASS_CASE(-8061, EFaxBadModemResult, EFax),
    CLASS_CASE(-8062, EFaxTrainError, EFax), CLASS_CASE(-8063, EFaxInitError, EFax),
    CLASS_CASE(-8064, EFaxBusy, EFax), CLASS_CASE(-8065, EFaxVoiceCall, EFax),
    CLASS_CASE(-8066, EFaxDataCall, EFax), CLASS_CASE(-8067, EFaxNoDialTone, EFax),
    CLASS_CASE(-8068, EFaxNoCarrier, EFax), CLASS_CASE(-8069, EFaxSessionError, EFax),
    CLASS_CASE(-8070, EFaxPageError, EFax), CLASS_CASE(-13801, ETapiAllocated, ETapi),
    CLASS_CASE(-13802, ETapiBadDeviceID, ETapi), CLASS_CASE(-13803, ETapiBearerModeUnavail, ETapi),
    CLASS_CASE(-13805, ETapiCallUnavail, ETapi), CLASS_CASE(-13806, ETapiCompletionOverrun, ETapi),
    CLASS_CASE(-13807, ETapiConferenceFull, ETapi), CLASS_CASE(-13808, ETapiDialBilling, ETapi),
    CLASS_CASE(-13809, ETapiDialDialtone, ETapi), CLASS_CASE(-13810, ETapiDialPrompt, ETapi),
    CLASS_CASE(-13811, ETapiDialQuiet, ETapi),
    CLASS_CASE(-13812, ETapiIncompatibleApiVersion, ETapi),
    CLASS_CASE(-13813, ETapiIncompatibleExtVersion, ETapi),
    CLASS_CASE(-13814, ETapiIniFileCorrupt, ETapi), CLASS_CASE(-13815, ETapiInUse, ETapi),
    CLASS_CASE(-13816, ETapiInvalAddress, ETapi), CLASS_CASE(-13817, ETapiInvalAddressID, ETapi),
    CLASS_CASE(-13818, ETapiInvalAddressMode, ETapi),
    CLASS_CASE(-13819, ETapiInvalAddressState, ETapi),
    CLASS_CASE(-13820, ETapiInvalAppHandle, ETapi), CLASS_CASE(-13821, ETapiInvalAppName, ETapi),
    CLASS_CASE(-13822, ETapiInvalBearerMode, ETapi),
    CLASS_CASE(-13823, ETapiInvalCallComplMode, ETapi),
    CLASS_CASE(-13824, ETapiInvalCallHandle, ETapi),
    CLASS_CASE(-13825, ETapiInvalCallParams, ETapi),
    CLASS_CASE(-13826, ETapiInvalCallPrivilege, ETapi),
    CLASS_CASE(-13827, ETapiInvalCallSelect, ETapi), CLASS_CASE(-13828, ETapiInvalCallState, ETapi),
    CLASS_CASE(-13829, ETapiInvalCallStatelist, ETapi), CLASS_CASE(-13830, ETapiInvalCard, ETapi),
    CLASS_CASE(-13831, ETapiInvalCompletionID, ETapi),
    CLASS_CASE(-13832, ETapiInvalConfCallHandle, ETapi),
    CLASS_CASE(-13833, ETapiInvalConsultCallHandle, ETapi),
    CLASS_CASE(-13834, ETapiInvalCountryCode, ETapi),
    CLASS_CASE(-13835, ETapiInvalDeviceClass, ETapi),
    CLASS_CASE(-13836, ETapiInvalDeviceHandle, ETapi),
    CLASS_CASE(-13837, ETapiInvalDialParams, ETapi), CLASS_CASE(-13838, ETapiInvalDigitList, ETapi),
    CLASS_CASE(-13839, ETapiInvalDigitMode, ETapi), CLASS_CASE(-13840, ETapiInvalDigits, ETapi),
    CLASS_CASE(-13841, ETapiInvalExtVersion, ETapi), CLASS_CASE(-13842, ETapiInvalGroupID, ETapi),
    CLASS_CASE(-13843, ETapiInvalLineHandle, ETapi), CLASS_CASE(-13844, ETapiInvalLineState, ETapi),
    CLASS_CASE(-13845, ETapiInvalLocation, ETapi), CLASS_CASE(-13846, ETapiInvalMediaList, ETapi),
    CLASS_CASE(-13847, ETapiInvalMediaMode, ETapi), CLASS_CASE(-13848, ETapiInvalMessageID, ETapi),
    CLASS_CASE(-13850, ETapiInvalParam, ETapi), CLASS_CASE(-13851, ETapiInvalParkID, ETapi),
    CLASS_CASE(-13852, ETapiInvalParkMode, ETapi), CLASS_CASE(-13853, ETapiInvalPointer, ETapi),
    CLASS_CASE(-13854, ETapiInvalPrivSelect, ETapi), CLASS_CASE(-13855, ETapiInvalRate, ETapi),
    CLASS_CASE(-13856, ETapiInvalRequestMode, ETapi),
    CLASS_CASE(-13857, ETapiInvalTerminalID, ETapi),
    CLASS_CASE(-13858, ETapiInvalTerminalMode, ETapi), CLASS_CASE(-13859, ETapiInvalTimeout, ETapi),
    CLASS_CASE(-13860, ETapiInvalTone, ETapi), CLASS_CASE(-13861, ETapiInvalToneList, ETapi),
    CLASS_CASE(-13862, ETapiInvalToneMode, ETapi),
    CLASS_CASE(-13863, ETapiInvalTransferMode, ETapi),
    CLASS_CASE(-13864, ETapiLineMapperFailed, ETapi), CLASS_CASE(-13865, ETapiNoConference, ETapi),
    CLASS_CASE(-13866, ETapiNoDevice, ETapi), CLASS_CASE(-13867, ETapiNoDriver, ETapi),
    CLASS_CASE(-13868, ETapiNoMem, ETapi), CLASS_CASE(-13869, ETapiNoRequest, ETapi),
    CLASS_CASE(-13870, ETapiNotOwner, ETapi), CLASS_CASE(-13871, ETapiNotRegistered, ETapi),
    CLASS_CASE(-13872, ETapiOperationFailed, ETapi),
    CLASS_CASE(-13873, ETapiOperationUnavail, ETapi), CLASS_CASE(-13874, ETapiRateUnavail, ETapi),
    CLASS_CASE(-13875, ETapiResourceUnavail, ETapi), CLASS_CASE(-13876, ETapiRequestOverrun, ETapi),
    CLASS_CASE(-13877, ETapiStructureTooSmall, ETapi),
    CLASS_CASE(-13878, ETapiTargetNotFound, ETapi), CLASS_CASE(-13879, ETapiTargetSelf, ETapi),
    CLASS_CASE(-13880, ETapiUninitialized, ETapi),
    CLASS_CASE(-13881, ETapiUserUserInfoTooBig, ETapi), CLASS_CASE(-13882, ETapiReinit, ETapi),
    CLASS_CASE(-13883, ETapiAddressBlocked, ETapi), CLASS_CASE(-13884, ETapiBillingRejected, ETapi),
    CLASS_CASE(-13885, ETapiInvalFeature, ETapi),
    CLASS_CASE(-13886, ETapiNoMultipleInstance, ETapi), CLASS_CASE(-13928, ETapiBusy, ETapi),
    CLASS_CASE(-13929, ETapiNotSet, ETapi), CLASS_CASE(-13930, ETapiNoSelect, ETapi),
    CLASS_CASE(-13931, ETapiLoadFail, ETapi), CLASS_CASE(-13932, ETapiGetAddrFail, ETapi),
    CLASS_CASE(-13933, ETapi16Disabled, ETapi), CLASS_CASE(-13935, ETapiVoiceNotSupported, ETapi),
    CLASS_CASE(-13936, ETapiWaveFail, ETapi), CLASS_CASE(-13942, ETapiTranslateFail, ETapi),
    CLASS_CASE(-13980, ERasLoadFail, ERas),
};
// clang-format on

// The texts the program shows exactly as written.
const std::vector<std::pair<int, std::string>> kQuotedTexts = {
    {0, "OK"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Insufficient memory"},
    {15, "Invalid drive"},
    {18, "No more files"},
    {100, "Attempt to read beyond end of file"},
    {101, "Disk is full"},
    {102, "File/device not assigned"},
    {103, "File/device not open"},
    {104, "File/device not open for input"},
    {105, "File/device not open for output"},
    {150, "Disk is write-protected"},
    {151, "Unknown disk unit"},
    {152, "Drive is not ready"},
    {153, "Unknown command"},
    {154, "Data error"},
    {155, "Bad request structure length"},
    {156, "Seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer is out of paper"},
    {160, "Device write error"},
    {161, "Device read error"},
    {162, "General failure"},
    {1001, "Bad handle passed to com function"},
    {1002, "Bad argument passed to function"},
    {1003, "Got quit message"},
    {1004, "Terminal buffer greater than 65521"},
    {1005, "ComPort component not assigned"},
    {1006, "Internal error creating window class"},
    {1007, "Modem component not assigned"},
    {1008, "Phonebook component not assigned"},
    {1009, "Component not compatible with WinSock"},
    {2001, "ie_BadId - Specified comport doesn't exist"},
    {2002, "ie_Baudrate - unsupported baud rate"},
    {2003, "ie_Bytesize - invalid byte size"},
    {2004, "ie_Default - error in default parameters"},
    {2005, "ie_Hardware - Specified comport in use"},
    {2006, "ie_Memory - unable to allocate queues"},
    {2007, "ie_NOpen - device not open"},
    {2008, "ie_Open - device already open"},
    {2009, "No more handles, can't open port"},
    {2010, "No timers available"},
    {2011, "The ComNumber property of the TApdComPort has not been set"},
    {2012, "Comport was not opened by Tapi"},
    {3001, "No device layer specified"},
    {3002, "Function not supported by driver"},
    {3003, "EnableCommNotification failed"},
    {3004, "Failed to put entire block"},
    {3005, "Failed to get entire block"},
    {3006, "Output buffer too small for block"},
    {3007, "Buffer is empty"},
    {3008, "Tracing not enabled"},
    {3009, "Logging not enabled"},
    {3010, "Base address not set"},
    {5001, "No more trigger slots"},
    {5002, "Data trigger too long"},
    {5003, "Bad trigger handle"},
    {15501, "Time      Type      SubType       Data      OtherData"},
    {15502, "--------  --------  ------------  --------  ---------"},
};

class LoadingComponent : public TApdBaseComponent {
public:
    LoadingComponent() : TApdBaseComponent(nullptr) { SetLoading(true); }
};

} // namespace

TEST(CheckException, RaisesTheClassOfEveryCodeThatHasOne) {
    for (const ClassCase& c : kClassCases) {
        SCOPED_TRACE(std::to_string(c.Code) + " " + c.ClassName);
        try {
            CheckException(nullptr, c.Code);
            ADD_FAILURE() << "nothing raised";
        } catch (const EAPDException& e) {
            EXPECT_TRUE(std::type_index(typeid(e)) == c.Class)
                << "raised " << typeid(e).name() << " instead";
            EXPECT_TRUE(c.IsInGroup(e));
            EXPECT_EQ(e.ErrorCode, c.Code);
            EXPECT_FALSE(std::string(e.what()).empty());
            EXPECT_EQ(e.what(), ErrorMessageText(c.Code));
        }
    }
}

TEST(CheckException, CodesWithoutClassLoseTheirValue) {
    for (int code : {-1, -1001, -3002, -5001, -6007, -20000, -15001, -163, -2147483647 - 1}) {
        SCOPED_TRACE(code);
        try {
            CheckException(nullptr, code);
            ADD_FAILURE() << "nothing raised";
        } catch (const EAPDException& e) {
            EXPECT_TRUE(typeid(e) == typeid(EAPDException)) << "raised " << typeid(e).name();
            EXPECT_EQ(e.ErrorCode, 0);
            EXPECT_STREQ(e.what(), "Ruvo exception");
        }
    }
}

TEST(CheckException, OperatingSystemNumbersBecomeRunTimeErrors) {
    EXPECT_THROW(CheckException(nullptr, -8), EOutOfMemory);
    struct Case {
        int Code;
        std::string Message;
    };
    for (const Case& c : std::vector<Case>{{-5, "File access denied"},
                                           {-2, "File not found"},
                                           {-162, "General failure"},
                                           {-87, "The parameter is incorrect. "},
                                           {-32, "The process cannot access the file because it is "
                                                 "being used by another process. "},
                                           {-7, ""}}) {
        SCOPED_TRACE(c.Code);
        try {
            CheckException(nullptr, c.Code);
            ADD_FAILURE() << "nothing raised";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode, -c.Code);
            EXPECT_EQ(e.what(), c.Message);
        }
    }
}

TEST(CheckException, ReturnsWhatItDoesNotRaise) {
    EXPECT_EQ(CheckException(nullptr, 0), 0);
    EXPECT_EQ(CheckException(nullptr, 5), 5);
    EXPECT_EQ(CheckException(nullptr, 2147483647), 2147483647);

    LoadingComponent loading;
    EXPECT_EQ(CheckException(&loading, -2001), -2001);
    EXPECT_EQ(CheckException(&loading, -8), -8);
    loading.SetLoading(false);
    EXPECT_THROW(CheckException(&loading, -2001), EBadId);
}

TEST(EAPDExceptionTest, BuiltFromACodeOrAText) {
    EAPDException fromCode(-2011);
    EXPECT_EQ(fromCode.ErrorCode, -2011);
    EXPECT_STREQ(fromCode.what(), "The ComNumber property of the TApdComPort has not been set");

    EAPDException fromText(std::string("Port 3 refused"));
    EXPECT_EQ(fromText.ErrorCode, 0);
    EXPECT_STREQ(fromText.what(), "Port 3 refused");

    // No table text and no system text: an empty message, not a failure.
    EAPDException unknown(-4999);
    EXPECT_EQ(unknown.ErrorCode, -4999);
    EXPECT_STREQ(unknown.what(), "");
}

TEST(ErrorMessageText, GivesTheQuotedTextsExactly) {
    for (const auto& [id, text] : kQuotedTexts) {
        SCOPED_TRACE(id);
        EXPECT_EQ(ErrorMessageText(id), text);
    }
}

TEST(ErrorMessageText, UsesTheSixteenBitMagnitude) {
    EXPECT_EQ(ErrorMessageText(2008), "ie_Open - device already open");
    EXPECT_EQ(ErrorMessageText(-2008), "ie_Open - device already open");
    EXPECT_EQ(ErrorMessageText(2008 + 65536), "ie_Open - device already open");
    EXPECT_EQ(ErrorMessageText(-2008 - 3 * 65536), "ie_Open - device already open");
    // 65536 - 2001 is -2001 in 16 bits.
    EXPECT_EQ(ErrorMessageText(65536 - 2001), "ie_BadId - Specified comport doesn't exist");
}

TEST(ErrorMessageText, FallsBackToTheCleanedSystemText) {
    EXPECT_EQ(ErrorMessageText(87), "The parameter is incorrect. ");
    EXPECT_EQ(ErrorMessageText(-1167), "The device is not connected. ");
    // The table's own text wins over the system's for the same number.
    EXPECT_EQ(ErrorMessageText(5), "File access denied");
    // Neither has a text: the dump's missing subtype 0, or a number nobody knows.
    EXPECT_EQ(ErrorMessageText(15100), "");
    EXPECT_EQ(ErrorMessageText(31000), "");
}

TEST(CleanSystemMessage, TurnsControlCharactersIntoSingleSpaces) {
    struct Case {
        std::string In, Out;
    };
    for (const Case& c : std::vector<Case>{
             {"Access is denied.\r\n", "Access is denied. "},
             {"Two\r\n\r\nlines", "Two lines"},
             {"tab\tand  double   spaces", "tab and double spaces"},
             {"  leading", " leading"},
             {"caf\xE9 \x80uro \xFF", "caf\xE9 \x80uro \xFF"}, // 8-bit characters stay
             {"", ""},
         }) {
        EXPECT_EQ(CleanSystemMessage(c.In), c.Out) << c.In;
    }
}
