// Result codes to exceptions and texts.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "base/error_text.h"
#include "base/exceptions.h"

namespace kv {
namespace {

struct Expected {
  Result code;
  const char *cls;
  const char *group;
  const char *text;
};

// Written out by hand from the code map, independently of the tables in the library.
const Expected kMap[] = {
    {-1001, "EBadHandle", "EGeneral", "Bad handle passed to com function"},
    {-1002, "EBadArgument", "EGeneral", "Bad argument passed to function"},
    {-1003, "EGotQuitMsg", "EGeneral", "Got quit message"},
    {-1004, "EBufferTooBig", "EGeneral", "Terminal buffer greater than 65521"},
    {-1005, "EPortNotAssigned", "EGeneral", "ComPort component not assigned"},
    {-1006, "EInternal", "EGeneral", "Internal error creating window class"},
    {-1007, "EModemNotAssigned", "EGeneral", "Modem component not assigned"},
    {-1008, "EPhonebookNotAssigned", "EGeneral", "Phonebook component not assigned"},
    {-1009, "ECannotUseWithWinSock", "EGeneral", "Component not compatible with WinSock"},
    {-2001, "EBadId", "EOpenComm", "ie_BadId - Specified comport doesn't exist"},
    {-2002, "EBaudRate", "EOpenComm", "ie_Baudrate - unsupported baud rate"},
    {-2003, "EByteSize", "EOpenComm", "ie_Bytesize - invalid byte size"},
    {-2004, "EDefault", "EOpenComm", "ie_Default - error in default parameters"},
    {-2005, "EHardware", "EOpenComm", "ie_Hardware - Specified comport in use"},
    {-2006, "EMemory", "EOpenComm", "ie_Memory - unable to allocate queues"},
    {-2007, "ECommNotOpen", "EOpenComm", "ie_NOpen - device not open"},
    {-2008, "EAlreadyOpen", "EOpenComm", "ie_Open - device already open"},
    {-2009, "ENoHandles", "EOpenComm", "No more handles, can't open port"},
    {-2010, "ENoTimers", "EOpenComm", "No timers available"},
    {-2011, "ENoPortSelected", "EOpenComm",
     "The ComNumber property of the TKvComPort has not been set"},
    {-3001, "ENullApi", "ESerialIO", "No device layer specified"},
    {-3002, "ENotSupported", "ESerialIO", "Function not supported by driver"},
    {-3003, "ERegisterHandlerFailed", "ESerialIO", "EnableCommNotification failed"},
    {-3004, "EPutBlockFail", "ESerialIO", "Failed to put entire block"},
    {-3005, "EGetBlockFail", "ESerialIO", "Failed to get entire block"},
    {-3006, "EOutputBufferTooSmall", "ESerialIO", "Output buffer too small for block"},
    {-3007, "EBufferIsEmpty", "ESerialIO", "Buffer is empty"},
    {-3008, "ETracingNotEnabled", "ESerialIO", "Tracing not enabled"},
    {-3009, "ELoggingNotEnabled", "ESerialIO", "Logging not enabled"},
    {-4001, "EModemNotStarted", "EModem", "StartModem has not been called"},
    {-4002, "EModemBusy", "EModem", "Modem is busy elsewhere"},
    {-4003, "EModemNotDialing", "EModem", "Modem is not currently dialing"},
    {-4004, "ENotDialing", "EModem", "Dialer is not dialing"},
    {-4005, "EAlreadyDialing", "EModem", "Dialer is already dialing"},
    {-4006, "EModemNotResponding", "EModem", "Modem is not responding"},
    {-4007, "EModemRejectedCommand", "EModem", "Invalid command sent to modem"},
    {-4008, "EModemStatusMismatch", "EModem", "Wrong modem status requested"},
    {-5001, "ENoMoreTriggers", "ETrigger", "No more trigger slots"},
    {-5002, "ETriggerTooLong", "ETrigger", "Data trigger too long"},
    {-5003, "EBadTriggerHandle", "ETrigger", "Bad trigger handle"},
    {-6006, "EProtocol", "EProtocol", "Fatal time out"},
    {-6008, "EProtocol", "EProtocol", "Too many errors during protocol"},
    {-6009, "EProtocol", "EProtocol", "Block sequence error in Xmodem"},
    {-7001, "EKeyTooLong", "EINI", "Key string too long"},
    {-7002, "EDataTooLarge", "EINI", "Data string too long"},
    {-7003, "EInternal", "EGeneral", "No fields defined in database"},
    {-7004, "EIniWrite", "EINI", "Generic INI file write error"},
    {-7005, "EIniRead", "EINI", "Generic INI file read error"},
    {-7006, "EInternal", "EGeneral", "No index defined for database"},
    {-7007, "ERecordExists", "EINI", "Record already exists"},
    {-7008, "ERecordNotFound", "EINI", "Record not found in database"},
    {-7010, "EDatabaseFull", "EINI", "Maximum database records (999) reached"},
    {-7011, "EDatabaseEmpty", "EINI", "No records in database"},
    {-7012, "EInternal", "EGeneral", "iPrepareIniDatabase not called"},
    {-7013, "EBadFieldList", "EINI", "Bad field list in INI component"},
    {-7014, "EBadFieldForIndex", "EINI", "Bad field index in INI component"},
    {-8001, "EFaxBadFormat", "EFax", "File is not an APF file"},
    {-8002, "EBadGraphicsFormat", "EFax", "Unsupported graphics file format"},
    {-8003, "EConvertAbort", "EFax", "User aborted fax conversion"},
    {-8004, "EUnpackAbort", "EFax", "User aborted fax unpack"},
    {-8005, "ECantMakeBitmap", "EFax", "CreateBitmapIndirect API failure"},
    {-8070, "EFaxBadMachine", "EFax", "Fax incompatible with remote fax"},
    {-8071, "EFaxBadModemResult", "EFax", "Bad response from modem"},
    {-8072, "EFaxTrainError", "EFax", "Modems failed to train"},
    {-8073, "EFaxInitError", "EFax", "Error while initializing modem"},
    {-8074, "EFaxBusy", "EFax", "Called fax number was busy"},
    {-8075, "EFaxVoiceCall", "EFax", "Called fax number answered with voice"},
    {-8076, "EFaxDataCall", "EFax", "Incoming data call"},
    {-8077, "EFaxNoDialTone", "EFax", "No dial tone"},
    {-8078, "EFaxNoCarrier", "EFax", "Failed to connect to remote fax"},
    {-8079, "EFaxSessionError", "EFax", "Fax failed in mid-session"},
    {-8080, "EFaxPageError", "EFax", "Fax failed at page end"},
};

bool inGroup(const EKvException &e, const std::string &group) {
  if (group == "EGeneral") return dynamic_cast<const EGeneral *>(&e) != nullptr;
  if (group == "EOpenComm") return dynamic_cast<const EOpenComm *>(&e) != nullptr;
  if (group == "ESerialIO") return dynamic_cast<const ESerialIO *>(&e) != nullptr;
  if (group == "EModem") return dynamic_cast<const EModem *>(&e) != nullptr;
  if (group == "ETrigger") return dynamic_cast<const ETrigger *>(&e) != nullptr;
  if (group == "EProtocol") return dynamic_cast<const EProtocol *>(&e) != nullptr;
  if (group == "EINI") return dynamic_cast<const EINI *>(&e) != nullptr;
  if (group == "EFax") return dynamic_cast<const EFax *>(&e) != nullptr;
  if (group == "ETapi") return dynamic_cast<const ETapi *>(&e) != nullptr;
  return false;
}

TEST(RaiseOnError, EveryMappedCodeRaisesItsClassGroupAndText) {
  for (const Expected &x : kMap) {
    SCOPED_TRACE(x.code);
    try {
      RaiseOnError(x.code);
      ADD_FAILURE() << "nothing raised";
    } catch (const EKvException &e) {
      EXPECT_STREQ(e.className(), x.cls);
      EXPECT_TRUE(inGroup(e, x.group)) << x.group;
      EXPECT_EQ(e.message(), x.text);
      EXPECT_STREQ(e.what(), x.text);
      EXPECT_EQ(e.ErrorCode, x.code);
      EXPECT_EQ(exceptionClassForCode(x.code), x.cls);
      // Within the fax engine the same code is shown through the error-text rule.
      EXPECT_EQ(errorText(x.code), x.text);
    }
  }
}

TEST(RaiseOnError, SuccessAndLoadingPassThrough) {
  EXPECT_EQ(RaiseOnError(0), 0);
  EXPECT_EQ(RaiseOnError(17), 17);
  EXPECT_EQ(RaiseOnError(INT32_MAX), INT32_MAX);
  EXPECT_EQ(RaiseOnError(true, -2011), -2011);
  EXPECT_EQ(RaiseOnError(true, -5), -5);
  EXPECT_EQ(RaiseOnError(false, 3), 3);
}

TEST(RaiseOnError, SystemErrorNumbers) {
  try {
    RaiseOnError(-5);
    FAIL();
  } catch (const EInOutError &e) {
    EXPECT_EQ(e.ErrorCode, 5);
    EXPECT_EQ(e.message(), "File access denied");
    EXPECT_STREQ(e.className(), "EInOutError");
  }
  try {
    RaiseOnError(-8);
    FAIL();
  } catch (const EOutOfMemory &e) {
    EXPECT_EQ(e.message(), "Insufficient memory");
  }
  // The 100..199 numbers use their own id range; both ends of the range are I/O errors.
  try {
    RaiseOnError(-103);
    FAIL();
  } catch (const EInOutError &e) {
    EXPECT_EQ(e.ErrorCode, 103);
    EXPECT_EQ(e.message(), "File/device not open");
  }
  for (Result code : {-2, -162}) {
    EXPECT_THROW(RaiseOnError(code), EInOutError);
    EXPECT_EQ(exceptionClassForCode(code), "EInOutError");
  }
  // A number without a text still names itself rather than showing an empty message.
  try {
    RaiseOnError(-7);
    FAIL();
  } catch (const EInOutError &e) {
    EXPECT_EQ(e.ErrorCode, 7);
    EXPECT_EQ(e.message(), "I/O error 7");
  }
  // I/O errors are not part of the family, so a window catching EKvException does not eat them.
  EXPECT_THROW(
      {
        try {
          RaiseOnError(-2);
        } catch (const EKvException &) {
        }
      },
      EInOutError);
}

TEST(RaiseOnError, UnmappedCodesRaiseThePlainFamilyException) {
  for (Result code :
       {-9999, -1, -163, -1010, -6005, -7009, -8082, -13804, -13849, -13900, INT32_MIN}) {
    SCOPED_TRACE(code);
    try {
      RaiseOnError(code);
      FAIL();
    } catch (const EKvException &e) {
      EXPECT_STREQ(e.className(), "EKvException");
      EXPECT_EQ(e.message(), "Kv exception");
      EXPECT_EQ(e.ErrorCode, 0);
    }
    EXPECT_EQ(exceptionClassForCode(code), "EKvException");
  }
}

TEST(RaiseOnError, TelephonyCodesRaiseDistinctTelephonyLeaves) {
  std::set<std::string> names;
  auto check = [&](Result code) {
    try {
      RaiseOnError(code);
      FAIL() << code;
    } catch (const ETapi &e) {
      EXPECT_EQ(e.ErrorCode, code);
      EXPECT_FALSE(e.message().empty()) << code;
      EXPECT_NE(std::string(e.className()), "ETapi");
      names.insert(e.className());
    }
  };
  for (Result code = -13801; code >= -13886; --code)
    if (code != -13804 && code != -13849) check(code);
  for (Result code = -13928; code >= -13933; --code) check(code);
  EXPECT_EQ(names.size(), 90u);
  EXPECT_EQ(exceptionClassForCode(-13801), "ETapiAllocated");
  EXPECT_EQ(exceptionClassForCode(-13886), "ETapiNoMultipleInstance");
  EXPECT_EQ(exceptionClassForCode(-13928), "ETapiBusy");
  EXPECT_EQ(exceptionClassForCode(-13933), "ETapi16Disabled");
}

TEST(ExceptionForms, CodeDirectIdAndMessage) {
  EKvException byCode(-2011);
  EXPECT_EQ(byCode.ErrorCode, -2011);
  EXPECT_EQ(byCode.message(), "The ComNumber property of the TKvComPort has not been set");

  // The direct form skips the id rule: |-11211| is the id itself.
  EKvException direct(-11211, directStringId);
  EXPECT_EQ(direct.ErrorCode, -11211);
  EXPECT_EQ(direct.message(), "The ComNumber property of the TKvComPort has not been set");
  EXPECT_EQ(EKvException(-2011, directStringId).message(), "");

  EKvException plain("Something broke");
  EXPECT_EQ(plain.ErrorCode, 0);
  EXPECT_EQ(plain.message(), "Something broke");

  // Leaves keep every form.
  ENoPortSelected leaf(-2011);
  EXPECT_EQ(leaf.ErrorCode, -2011);
  EXPECT_STREQ(leaf.className(), "ENoPortSelected");
}

TEST(MessageIds, RuleCases) {
  EXPECT_EQ(messageId(-2011), 11211);
  EXPECT_EQ(messageId(-8080), 11880);
  EXPECT_EQ(messageId(5), 11005);
  EXPECT_EQ(messageId(103), 11903);
  EXPECT_EQ(messageId(-100), 11900);
  EXPECT_EQ(messageId(-199), 11999);
  EXPECT_EQ(messageId(-99), 11099);
  EXPECT_EQ(messageId(-200), 11200);
  EXPECT_EQ(messageId(-13800), 13100);  // the telephony case starts above 13800
  EXPECT_EQ(messageId(-13801), 13801);
  EXPECT_EQ(messageId(-13900), 13900);
  EXPECT_EQ(messageId(-13901), 13201);
  EXPECT_EQ(messageId(0), 11000);
  messageId(INT32_MIN);  // must not overflow
}

TEST(ErrorText, FaxResultTexts) {
  EXPECT_EQ(errorText(0), "OK");
  EXPECT_EQ(errorText(-6005), "Cancel requested");
  EXPECT_EQ(errorText(-6010), "No filename specified in protocol receive");
  EXPECT_EQ(errorText(-6011), "File was rejected");
  EXPECT_EQ(errorText(-8082), "Multiple resolutions per session not supported");
  EXPECT_EQ(errorText(-160), "Device write error");
  EXPECT_EQ(errorText(-2), "File not found");
  EXPECT_EQ(errorText(-8050), "no image loaded into viewer");
  EXPECT_EQ(errorText(-8051), "no block of image marked");
  // No telephony case here: -13801 falls under the general rule (id 13101, no text).
  EXPECT_EQ(errorText(-13801), "");
  EXPECT_EQ(messageForCode(-13801), "Line or call is already allocated");
  EXPECT_EQ(errorText(-9999), "");
  EXPECT_EQ(errorText(INT32_MIN), "");
}

TEST(ProgressText, OnlyListedCodesHaveTexts) {
  EXPECT_EQ(progressText(1), "Initializing modem for fax processing");
  EXPECT_EQ(progressText(3), "Busy, waiting until redial...");
  EXPECT_EQ(progressText(28), "Got Class 2 FHNG code");
  EXPECT_EQ(progressText(42), "User abort");
  EXPECT_EQ(progressText(8), "The line is busy with an incoming call, waiting until redial...");
  for (int code : {-1, 0, 9, 19, 29, 39, 43, 1000}) EXPECT_EQ(progressText(code), "") << code;
}

TEST(StringTable, IdsUniqueAndTextsWithinLimit) {
  std::set<int> ids;
  for (std::size_t i = 0; i < stringTableSize(); ++i) {
    const int id = stringTableId(i);
    EXPECT_TRUE(ids.insert(id).second) << "duplicate id " << id;
    const std::string text = loadString(id);
    EXPECT_FALSE(text.empty()) << id;
    EXPECT_LE(text.size(), kMaxStringLength) << id;
  }
  // 1 OK + 27 I/O + 86 library codes + 3 viewer/session texts + 20 progress + 90 telephony.
  EXPECT_EQ(ids.size(), 1u + 27u + 86u + 3u + 20u + 90u);
  EXPECT_EQ(loadString(12345), "");
}

}  // namespace
}  // namespace kv
