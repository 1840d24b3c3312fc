#pragma once
// The exception family that the component boundary raises for negative result codes.
//
// Inside the serial layer and the fax engine every failure is a negative kv::Result. Only when a
// result crosses into a component call does RaiseOnError() turn it into an exception, so windows
// can catch by group (e.g. EOpenComm for every "cannot open the port" case) or by leaf.
#include <string>

#include "base/result_codes.h"

namespace kv {

// Base of every exception of ours: carries the message text shown to the user. className() is
// the run-time name of the most derived class ("ENoPortSelected"), used in logs and tests.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char *what() const noexcept override { return message_.c_str(); }
  const std::string &message() const noexcept { return message_; }
  virtual const char *className() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// A system or file I/O failure (-2 .. -162); ErrorCode holds the positive error number.
class EInOutError : public Exception {
 public:
  EInOutError(int errorNumber, std::string message)
      : Exception(std::move(message)), ErrorCode(errorNumber) {}
  const char *className() const noexcept override { return "EInOutError"; }
  int ErrorCode;
};

class EOutOfMemory : public Exception {
 public:
  explicit EOutOfMemory(std::string message) : Exception(std::move(message)) {}
  const char *className() const noexcept override { return "EOutOfMemory"; }
};

// Selects the creation form that uses the absolute value of the code as the string id itself,
// without the message id rule.
struct DirectStringId {};
inline constexpr DirectStringId directStringId{};

class EKvException : public Exception {
 public:
  // Message by the message id rule; ErrorCode = code.
  explicit EKvException(Result code);
  // Message is string |code|; ErrorCode = code.
  EKvException(Result code, DirectStringId);
  // A plain message; ErrorCode = 0.
  explicit EKvException(std::string message) : Exception(std::move(message)), ErrorCode(0) {}
  explicit EKvException(const char *message) : EKvException(std::string(message)) {}
  const char *className() const noexcept override { return "EKvException"; }
  Result ErrorCode;
};

#define KV_DECLARE_EXCEPTION(Name, Base)                              \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char *className() const noexcept override { return #Name; } \
  };

// Groups.
KV_DECLARE_EXCEPTION(EGeneral, EKvException)
KV_DECLARE_EXCEPTION(EOpenComm, EKvException)
KV_DECLARE_EXCEPTION(ESerialIO, EKvException)
KV_DECLARE_EXCEPTION(EModem, EKvException)
KV_DECLARE_EXCEPTION(ETrigger, EKvException)
KV_DECLARE_EXCEPTION(EProtocol, EKvException)
KV_DECLARE_EXCEPTION(EINI, EKvException)
KV_DECLARE_EXCEPTION(EFax, EKvException)
KV_DECLARE_EXCEPTION(ETapi, EKvException)

// Leaves: X(class, group, code). The order within a group is the code order.
#define KV_EXCEPTION_LEAVES(X)                \
  X(EBadHandle, EGeneral, -1001)              \
  X(EBadArgument, EGeneral, -1002)            \
  X(EGotQuitMsg, EGeneral, -1003)             \
  X(EBufferTooBig, EGeneral, -1004)           \
  X(EPortNotAssigned, EGeneral, -1005)        \
  X(EInternal, EGeneral, -1006)               \
  X(EModemNotAssigned, EGeneral, -1007)       \
  X(EPhonebookNotAssigned, EGeneral, -1008)   \
  X(ECannotUseWithWinSock, EGeneral, -1009)   \
  X(EBadId, EOpenComm, -2001)                 \
  X(EBaudRate, EOpenComm, -2002)              \
  X(EByteSize, EOpenComm, -2003)              \
  X(EDefault, EOpenComm, -2004)               \
  X(EHardware, EOpenComm, -2005)              \
  X(EMemory, EOpenComm, -2006)                \
  X(ECommNotOpen, EOpenComm, -2007)           \
  X(EAlreadyOpen, EOpenComm, -2008)           \
  X(ENoHandles, EOpenComm, -2009)             \
  X(ENoTimers, EOpenComm, -2010)              \
  X(ENoPortSelected, EOpenComm, -2011)        \
  X(ENullApi, ESerialIO, -3001)               \
  X(ENotSupported, ESerialIO, -3002)          \
  X(ERegisterHandlerFailed, ESerialIO, -3003) \
  X(EPutBlockFail, ESerialIO, -3004)          \
  X(EGetBlockFail, ESerialIO, -3005)          \
  X(EOutputBufferTooSmall, ESerialIO, -3006)  \
  X(EBufferIsEmpty, ESerialIO, -3007)         \
  X(ETracingNotEnabled, ESerialIO, -3008)     \
  X(ELoggingNotEnabled, ESerialIO, -3009)     \
  X(EModemNotStarted, EModem, -4001)          \
  X(EModemBusy, EModem, -4002)                \
  X(EModemNotDialing, EModem, -4003)          \
  X(ENotDialing, EModem, -4004)               \
  X(EAlreadyDialing, EModem, -4005)           \
  X(EModemNotResponding, EModem, -4006)       \
  X(EModemRejectedCommand, EModem, -4007)     \
  X(EModemStatusMismatch, EModem, -4008)      \
  X(ENoMoreTriggers, ETrigger, -5001)         \
  X(ETriggerTooLong, ETrigger, -5002)         \
  X(EBadTriggerHandle, ETrigger, -5003)       \
  X(EKeyTooLong, EINI, -7001)                 \
  X(EDataTooLarge, EINI, -7002)               \
  X(EIniWrite, EINI, -7004)                   \
  X(EIniRead, EINI, -7005)                    \
  X(ERecordExists, EINI, -7007)               \
  X(ERecordNotFound, EINI, -7008)             \
  X(EDatabaseFull, EINI, -7010)               \
  X(EDatabaseEmpty, EINI, -7011)              \
  X(EBadFieldList, EINI, -7013)               \
  X(EBadFieldForIndex, EINI, -7014)           \
  X(EFaxBadFormat, EFax, -8001)               \
  X(EBadGraphicsFormat, EFax, -8002)          \
  X(EConvertAbort, EFax, -8003)               \
  X(EUnpackAbort, EFax, -8004)                \
  X(ECantMakeBitmap, EFax, -8005)             \
  X(EFaxBadMachine, EFax, -8070)              \
  X(EFaxBadModemResult, EFax, -8071)          \
  X(EFaxTrainError, EFax, -8072)              \
  X(EFaxInitError, EFax, -8073)               \
  X(EFaxBusy, EFax, -8074)                    \
  X(EFaxVoiceCall, EFax, -8075)               \
  X(EFaxDataCall, EFax, -8076)                \
  X(EFaxNoDialTone, EFax, -8077)              \
  X(EFaxNoCarrier, EFax, -8078)               \
  X(EFaxSessionError, EFax, -8079)            \
  X(EFaxPageError, EFax, -8080)

// Telephony interface leaves: X(class, code, text). The program never opens a port through the
// telephony interface, so these only complete the family; -13804 and -13849 are unassigned.
#define KV_TAPI_LEAVES(X)                                                            \
  X(ETapiAllocated, -13801, "Line or call is already allocated")                     \
  X(ETapiBadDeviceId, -13802, "Telephony device ID is not valid")                    \
  X(ETapiBearerModeUnavail, -13803, "Bearer mode is not available")                  \
  X(ETapiCallUnavail, -13805, "No call appearance is available")                     \
  X(ETapiCompletionOverrun, -13806, "Too many call completions outstanding")         \
  X(ETapiConferenceFull, -13807, "Conference is full")                               \
  X(ETapiDialBilling, -13808, "Waiting for a billing tone is not supported")         \
  X(ETapiDialDialtone, -13809, "Waiting for dial tone is not supported")             \
  X(ETapiDialPrompt, -13810, "Dial prompt is not supported")                         \
  X(ETapiDialQuiet, -13811, "Waiting for quiet is not supported")                    \
  X(ETapiIncompatibleApiVersion, -13812, "Incompatible telephony interface version") \
  X(ETapiIncompatibleExtVersion, -13813, "Incompatible telephony extension version") \
  X(ETapiIniFileCorrupt, -13814, "Telephony configuration is damaged")               \
  X(ETapiInUse, -13815, "Line is in use by another program")                         \
  X(ETapiInvalAddress, -13816, "Invalid telephone address")                          \
  X(ETapiInvalAddressId, -13817, "Invalid address ID")                               \
  X(ETapiInvalAddressMode, -13818, "Invalid address mode")                           \
  X(ETapiInvalAddressState, -13819, "Invalid address state")                         \
  X(ETapiInvalAppHandle, -13820, "Invalid telephony application handle")             \
  X(ETapiInvalAppName, -13821, "Invalid application name")                           \
  X(ETapiInvalBearerMode, -13822, "Invalid bearer mode")                             \
  X(ETapiInvalCallComplMode, -13823, "Invalid call completion mode")                 \
  X(ETapiInvalCallHandle, -13824, "Invalid call handle")                             \
  X(ETapiInvalCallParams, -13825, "Invalid call parameters")                         \
  X(ETapiInvalCallPrivilege, -13826, "Invalid call privilege")                       \
  X(ETapiInvalCallSelect, -13827, "Invalid call selection")                          \
  X(ETapiInvalCallState, -13828, "Call is not in a state that allows this")          \
  X(ETapiInvalCallStateList, -13829, "Invalid call state list")                      \
  X(ETapiInvalCard, -13830, "Invalid calling card")                                  \
  X(ETapiInvalCompletionId, -13831, "Invalid completion ID")                         \
  X(ETapiInvalConfCallHandle, -13832, "Invalid conference call handle")              \
  X(ETapiInvalConsultCallHandle, -13833, "Invalid consultation call handle")         \
  X(ETapiInvalCountryCode, -13834, "Invalid country code")                           \
  X(ETapiInvalDeviceClass, -13835, "Invalid device class")                           \
  X(ETapiInvalDeviceHandle, -13836, "Invalid device handle")                         \
  X(ETapiInvalDialParams, -13837, "Invalid dialing parameters")                      \
  X(ETapiInvalDigitList, -13838, "Invalid digit list")                               \
  X(ETapiInvalDigitMode, -13839, "Invalid digit mode")                               \
  X(ETapiInvalDigits, -13840, "Invalid digits")                                      \
  X(ETapiInvalExtVersion, -13841, "Invalid extension version")                       \
  X(ETapiInvalGroupId, -13842, "Invalid group ID")                                   \
  X(ETapiInvalLineHandle, -13843, "Invalid line handle")                             \
  X(ETapiInvalLineState, -13844, "Line is not in a state that allows this")          \
  X(ETapiInvalLocation, -13845, "Invalid dialing location")                          \
  X(ETapiInvalMediaList, -13846, "Invalid media list")                               \
  X(ETapiInvalMediaMode, -13847, "Invalid media mode")                               \
  X(ETapiInvalMessageId, -13848, "Invalid message ID")                               \
  X(ETapiInvalParam, -13850, "Invalid parameter")                                    \
  X(ETapiInvalParkId, -13851, "Invalid park ID")                                     \
  X(ETapiInvalParkMode, -13852, "Invalid park mode")                                 \
  X(ETapiInvalPointer, -13853, "Invalid pointer")                                    \
  X(ETapiInvalPrivSelect, -13854, "Invalid privilege selection")                     \
  X(ETapiInvalRate, -13855, "Invalid rate")                                          \
  X(ETapiInvalRequestMode, -13856, "Invalid request mode")                           \
  X(ETapiInvalTerminalId, -13857, "Invalid terminal ID")                             \
  X(ETapiInvalTerminalMode, -13858, "Invalid terminal mode")                         \
  X(ETapiInvalTimeout, -13859, "Invalid time-out value")                             \
  X(ETapiInvalTone, -13860, "Invalid tone")                                          \
  X(ETapiInvalToneList, -13861, "Invalid tone list")                                 \
  X(ETapiInvalToneMode, -13862, "Invalid tone mode")                                 \
  X(ETapiInvalTransferMode, -13863, "Invalid transfer mode")                         \
  X(ETapiLineMapperFailed, -13864, "No line matches the requested call parameters")  \
  X(ETapiNoConference, -13865, "Call is not part of a conference")                   \
  X(ETapiNoDevice, -13866, "Telephony device not found")                             \
  X(ETapiNoDriver, -13867, "Telephony driver not found")                             \
  X(ETapiNoMem, -13868, "Not enough memory for the telephony operation")             \
  X(ETapiNoRequest, -13869, "No request is pending")                                 \
  X(ETapiNotOwner, -13870, "This program does not own the call")                     \
  X(ETapiNotRegistered, -13871, "This program is not registered")                    \
  X(ETapiOperationFailed, -13872, "Telephony operation failed")                      \
  X(ETapiOperationUnavail, -13873, "Telephony operation is not available")           \
  X(ETapiRateUnavail, -13874, "Requested rate is not available")                     \
  X(ETapiResourceUnavail, -13875, "Telephony resource is not available")             \
  X(ETapiRequestOverrun, -13876, "Too many telephony requests outstanding")          \
  X(ETapiStructureTooSmall, -13877, "Telephony data structure too small")            \
  X(ETapiTargetNotFound, -13878, "Call target not found")                            \
  X(ETapiTargetSelf, -13879, "Call target is this station")                          \
  X(ETapiUninitialized, -13880, "Telephony interface not initialized")               \
  X(ETapiUserInfoTooBig, -13881, "User-to-user information too long")                \
  X(ETapiReinit, -13882, "Telephony interface is being reinitialized")               \
  X(ETapiAddressBlocked, -13883, "Address is blocked")                               \
  X(ETapiBillingRejected, -13884, "Billing information was rejected")                \
  X(ETapiInvalFeature, -13885, "Invalid feature")                                    \
  X(ETapiNoMultipleInstance, -13886, "Telephony interface cannot be started twice")  \
  X(ETapiBusy, -13928, "Telephony device is busy")                                   \
  X(ETapiNotSet, -13929, "Telephony device has not been set")                        \
  X(ETapiNoSelect, -13930, "No telephony device selected")                           \
  X(ETapiLoadFail, -13931, "Unable to load the telephony interface")                 \
  X(ETapiGetAddrFail, -13932, "Telephony interface function not found")              \
  X(ETapi16Disabled, -13933, "Telephony interface for old programs is disabled")

#define KV_DECLARE_LEAF(Name, Group, Code) KV_DECLARE_EXCEPTION(Name, Group)
#define KV_DECLARE_TAPI_LEAF(Name, Code, Text) KV_DECLARE_EXCEPTION(Name, ETapi)
KV_EXCEPTION_LEAVES(KV_DECLARE_LEAF)
KV_TAPI_LEAVES(KV_DECLARE_TAPI_LEAF)
#undef KV_DECLARE_LEAF
#undef KV_DECLARE_TAPI_LEAF

// The single check every component call passes its result through. Codes >= 0 come back
// unchanged, and so does any code while the component is being loaded (its stored properties
// are applied before a port or session exists, so a failure then must not abort the load).
Result RaiseOnError(bool componentLoading, Result code);
inline Result RaiseOnError(Result code) {
  return RaiseOnError(false, code);
}

// Throws exactly what RaiseOnError(code) throws, for a code known to be negative.
[[noreturn]] void raiseForCode(Result code);

// Name of the class RaiseOnError raises for a negative code ("EOutOfMemory", "EInOutError" and
// "EKvException" included); empty for codes >= 0.
std::string exceptionClassForCode(Result code);

}  // namespace kv
