#pragma once
// The serial layer's exception family. Every class carries a failure code in ErrorCode; the
// message is the message table's text for that code. CheckException picks the class.

#include <stdexcept>
#include <string>

class EAPDException : public std::runtime_error {
public:
    // ErrorCode := Code, message := ErrorMessageText of its magnitude.
    explicit EAPDException(int Code);
    // ErrorCode := 0, message := Message.
    explicit EAPDException(const std::string& Message);
    // ErrorCode := Code, message := Message: for a code the message table has no text for.
    EAPDException(int Code, const std::string& Message);

    int ErrorCode;
};

#define TOLVANE_APD_EXCEPTION_CLASS(Class, Base)                                                   \
    class Class : public Base {                                                                    \
    public:                                                                                        \
        using Base::Base;                                                                          \
    };

// The groups.
TOLVANE_APD_EXCEPTION_CLASS(EGeneral, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(EOpenComm, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(ESerialIO, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(EModem, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(ETrigger, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(EProtocol, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(EINI, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(EFax, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(ETapi, EAPDException)
TOLVANE_APD_EXCEPTION_CLASS(ERas, EAPDException)

// Every leaf class with its group and the code that raises it. EInternal is raised for further
// codes and EProtocol for codes of its own; CheckException lists those.
#define TOLVANE_APD_LEAF_EXCEPTIONS(X)                                                             \
    X(EBadArgument, EGeneral, -1002)                                                               \
    X(EGotQuitMsg, EGeneral, -1003)                                                                \
    X(EBufferTooBig, EGeneral, -1004)                                                              \
    X(EPortNotAssigned, EGeneral, -1005)                                                           \
    X(EInternal, EGeneral, -1006)                                                                  \
    X(EModemNotAssigned, EGeneral, -1007)                                                          \
    X(EPhonebookNotAssigned, EGeneral, -1008)                                                      \
    X(ECannotUseWithWinSock, EGeneral, -1009)                                                      \
    X(EBadId, EOpenComm, -2001)                                                                    \
    X(EBaudRate, EOpenComm, -2002)                                                                 \
    X(EByteSize, EOpenComm, -2003)                                                                 \
    X(EDefault, EOpenComm, -2004)                                                                  \
    X(EHardware, EOpenComm, -2005)                                                                 \
    X(EMemory, EOpenComm, -2006)                                                                   \
    X(ECommNotOpen, EOpenComm, -2007)                                                              \
    X(EAlreadyOpen, EOpenComm, -2008)                                                              \
    X(ENoHandles, EOpenComm, -2009)                                                                \
    X(ENoTimers, EOpenComm, -2010)                                                                 \
    X(ENoPortSelected, EOpenComm, -2011)                                                           \
    X(ENotOpenedByTapi, EOpenComm, -2012)                                                          \
    X(ENullApi, ESerialIO, -3001)                                                                  \
    X(ERegisterHandlerFailed, ESerialIO, -3003)                                                    \
    X(EPutBlockFail, ESerialIO, -3004)                                                             \
    X(EGetBlockFail, ESerialIO, -3005)                                                             \
    X(EOutputBufferTooSmall, ESerialIO, -3006)                                                     \
    X(EBufferIsEmpty, ESerialIO, -3007)                                                            \
    X(ETracingNotEnabled, ESerialIO, -3008)                                                        \
    X(ELoggingNotEnabled, ESerialIO, -3009)                                                        \
    X(EBaseAddressNotSet, ESerialIO, -3010)                                                        \
    X(EModemNotStarted, EModem, -4001)                                                             \
    X(EModemBusy, EModem, -4002)                                                                   \
    X(EModemNotDialing, EModem, -4003)                                                             \
    X(ENotDialing, EModem, -4004)                                                                  \
    X(EAlreadyDialing, EModem, -4005)                                                              \
    X(EModemNotResponding, EModem, -4006)                                                          \
    X(EModemRejectedCommand, EModem, -4007)                                                        \
    X(EModemStatusMismatch, EModem, -4008)                                                         \
    X(ETriggerTooLong, ETrigger, -5002)                                                            \
    X(EBadTriggerHandle, ETrigger, -5003)                                                          \
    X(EKeyTooLong, EINI, -7001)                                                                    \
    X(EDataTooLarge, EINI, -7002)                                                                  \
    X(EIniWrite, EINI, -7004)                                                                      \
    X(EIniRead, EINI, -7005)                                                                       \
    X(ERecordExists, EINI, -7007)                                                                  \
    X(ERecordNotFound, EINI, -7008)                                                                \
    X(EDatabaseFull, EINI, -7010)                                                                  \
    X(EDatabaseEmpty, EINI, -7011)                                                                 \
    X(EBadFieldList, EINI, -7013)                                                                  \
    X(EBadFieldForIndex, EINI, -7014)                                                              \
    X(EFaxBadFormat, EFax, -8001)                                                                  \
    X(EBadGraphicsFormat, EFax, -8002)                                                             \
    X(EConvertAbort, EFax, -8003)                                                                  \
    X(EUnpackAbort, EFax, -8004)                                                                   \
    X(ECantMakeBitmap, EFax, -8005)                                                                \
    X(EInvalidPageNumber, EFax, -8053)                                                             \
    X(EFaxBadMachine, EFax, -8060)                                                                 \
    X(EFaxBadModemResult, EFax, -8061)                                                             \
    X(EFaxTrainError, EFax, -8062)                                                                 \
    X(EFaxInitError, EFax, -8063)                                                                  \
    X(EFaxBusy, EFax, -8064)                                                                       \
    X(EFaxVoiceCall, EFax, -8065)                                                                  \
    X(EFaxDataCall, EFax, -8066)                                                                   \
    X(EFaxNoDialTone, EFax, -8067)                                                                 \
    X(EFaxNoCarrier, EFax, -8068)                                                                  \
    X(EFaxSessionError, EFax, -8069)                                                               \
    X(EFaxPageError, EFax, -8070)                                                                  \
    X(ETapiAllocated, ETapi, -13801)                                                               \
    X(ETapiBadDeviceID, ETapi, -13802)                                                             \
    X(ETapiBearerModeUnavail, ETapi, -13803)                                                       \
    X(ETapiCallUnavail, ETapi, -13805)                                                             \
    X(ETapiCompletionOverrun, ETapi, -13806)                                                       \
    X(ETapiConferenceFull, ETapi, -13807)                                                          \
    X(ETapiDialBilling, ETapi, -13808)                                                             \
    X(ETapiDialDialtone, ETapi, -13809)                                                            \
    X(ETapiDialPrompt, ETapi, -13810)                                                              \
    X(ETapiDialQuiet, ETapi, -13811)                                                               \
    X(ETapiIncompatibleApiVersion, ETapi, -13812)                                                  \
    X(ETapiIncompatibleExtVersion, ETapi, -13813)                                                  \
    X(ETapiIniFileCorrupt, ETapi, -13814)                                                          \
    X(ETapiInUse, ETapi, -13815)                                                                   \
    X(ETapiInvalAddress, ETapi, -13816)                                                            \
    X(ETapiInvalAddressID, ETapi, -13817)                                                          \
    X(ETapiInvalAddressMode, ETapi, -13818)                                                        \
    X(ETapiInvalAddressState, ETapi, -13819)                                                       \
    X(ETapiInvalAppHandle, ETapi, -13820)                                                          \
    X(ETapiInvalAppName, ETapi, -13821)                                                            \
    X(ETapiInvalBearerMode, ETapi, -13822)                                                         \
    X(ETapiInvalCallComplMode, ETapi, -13823)                                                      \
    X(ETapiInvalCallHandle, ETapi, -13824)                                                         \
    X(ETapiInvalCallParams, ETapi, -13825)                                                         \
    X(ETapiInvalCallPrivilege, ETapi, -13826)                                                      \
    X(ETapiInvalCallSelect, ETapi, -13827)                                                         \
    X(ETapiInvalCallState, ETapi, -13828)                                                          \
    X(ETapiInvalCallStatelist, ETapi, -13829)                                                      \
    X(ETapiInvalCard, ETapi, -13830)                                                               \
    X(ETapiInvalCompletionID, ETapi, -13831)                                                       \
    X(ETapiInvalConfCallHandle, ETapi, -13832)                                                     \
    X(ETapiInvalConsultCallHandle, ETapi, -13833)                                                  \
    X(ETapiInvalCountryCode, ETapi, -13834)                                                        \
    X(ETapiInvalDeviceClass, ETapi, -13835)                                                        \
    X(ETapiInvalDeviceHandle, ETapi, -13836)                                                       \
    X(ETapiInvalDialParams, ETapi, -13837)                                                         \
    X(ETapiInvalDigitList, ETapi, -13838)                                                          \
    X(ETapiInvalDigitMode, ETapi, -13839)                                                          \
    X(ETapiInvalDigits, ETapi, -13840)                                                             \
    X(ETapiInvalExtVersion, ETapi, -13841)                                                         \
    X(ETapiInvalGroupID, ETapi, -13842)                                                            \
    X(ETapiInvalLineHandle, ETapi, -13843)                                                         \
    X(ETapiInvalLineState, ETapi, -13844)                                                          \
    X(ETapiInvalLocation, ETapi, -13845)                                                           \
    X(ETapiInvalMediaList, ETapi, -13846)                                                          \
    X(ETapiInvalMediaMode, ETapi, -13847)                                                          \
    X(ETapiInvalMessageID, ETapi, -13848)                                                          \
    X(ETapiInvalParam, ETapi, -13850)                                                              \
    X(ETapiInvalParkID, ETapi, -13851)                                                             \
    X(ETapiInvalParkMode, ETapi, -13852)                                                           \
    X(ETapiInvalPointer, ETapi, -13853)                                                            \
    X(ETapiInvalPrivSelect, ETapi, -13854)                                                         \
    X(ETapiInvalRate, ETapi, -13855)                                                               \
    X(ETapiInvalRequestMode, ETapi, -13856)                                                        \
    X(ETapiInvalTerminalID, ETapi, -13857)                                                         \
    X(ETapiInvalTerminalMode, ETapi, -13858)                                                       \
    X(ETapiInvalTimeout, ETapi, -13859)                                                            \
    X(ETapiInvalTone, ETapi, -13860)                                                               \
    X(ETapiInvalToneList, ETapi, -13861)                                                           \
    X(ETapiInvalToneMode, ETapi, -13862)                                                           \
    X(ETapiInvalTransferMode, ETapi, -13863)                                                       \
    X(ETapiLineMapperFailed, ETapi, -13864)                                                        \
    X(ETapiNoConference, ETapi, -13865)                                                            \
    X(ETapiNoDevice, ETapi, -13866)                                                                \
    X(ETapiNoDriver, ETapi, -13867)                                                                \
    X(ETapiNoMem, ETapi, -13868)                                                                   \
    X(ETapiNoRequest, ETapi, -13869)                                                               \
    X(ETapiNotOwner, ETapi, -13870)                                                                \
    X(ETapiNotRegistered, ETapi, -13871)                                                           \
    X(ETapiOperationFailed, ETapi, -13872)                                                         \
    X(ETapiOperationUnavail, ETapi, -13873)                                                        \
    X(ETapiRateUnavail, ETapi, -13874)                                                             \
    X(ETapiResourceUnavail, ETapi, -13875)                                                         \
    X(ETapiRequestOverrun, ETapi, -13876)                                                          \
    X(ETapiStructureTooSmall, ETapi, -13877)                                                       \
    X(ETapiTargetNotFound, ETapi, -13878)                                                          \
    X(ETapiTargetSelf, ETapi, -13879)                                                              \
    X(ETapiUninitialized, ETapi, -13880)                                                           \
    X(ETapiUserUserInfoTooBig, ETapi, -13881)                                                      \
    X(ETapiReinit, ETapi, -13882)                                                                  \
    X(ETapiAddressBlocked, ETapi, -13883)                                                          \
    X(ETapiBillingRejected, ETapi, -13884)                                                         \
    X(ETapiInvalFeature, ETapi, -13885)                                                            \
    X(ETapiNoMultipleInstance, ETapi, -13886)                                                      \
    X(ETapiBusy, ETapi, -13928)                                                                    \
    X(ETapiNotSet, ETapi, -13929)                                                                  \
    X(ETapiNoSelect, ETapi, -13930)                                                                \
    X(ETapiLoadFail, ETapi, -13931)                                                                \
    X(ETapiGetAddrFail, ETapi, -13932)                                                             \
    X(ETapi16Disabled, ETapi, -13933)                                                              \
    X(ETapiVoiceNotSupported, ETapi, -13935)                                                       \
    X(ETapiWaveFail, ETapi, -13936)                                                                \
    X(ETapiTranslateFail, ETapi, -13942)                                                           \
    X(ERasLoadFail, ERas, -13980)

// Each leaf names its code, so that the code a caller produces or tests for is the one that
// raises the class: EBadId::Code, EAlreadyOpen::Code.
#define TOLVANE_APD_DECLARE_LEAF(Class, Group, LeafCode)                                           \
    class Class : public Group {                                                                   \
    public:                                                                                        \
        using Group::Group;                                                                        \
        static constexpr int Code = LeafCode;                                                      \
    };
TOLVANE_APD_LEAF_EXCEPTIONS(TOLVANE_APD_DECLARE_LEAF)
#undef TOLVANE_APD_DECLARE_LEAF

// The port exists but the user may not open it (not in the dialout group). The message table's
// identifiers are fixed, so this code past them carries its own text.
class EPortAccessDenied : public EOpenComm {
public:
    static constexpr int Code = -2013;
    explicit EPortAccessDenied(int code)
        : EOpenComm(code, "ie_Access - permission denied to open the comport") {}
};
