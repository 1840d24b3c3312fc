#include "base/exceptions.h"

#include <cstdlib>

#include "base/error_text.h"

namespace kv {

EKvException::EKvException(Result code) : Exception(messageForCode(code)), ErrorCode(code) {}

EKvException::EKvException(Result code, DirectStringId)
    : Exception(loadString(static_cast<int>(std::llabs(static_cast<long long>(code))))),
      ErrorCode(code) {}

namespace {

using Raiser = void (*)(Result);

template <class E>
[[noreturn]] void raiseAs(Result code) {
  throw E(code);
}

struct MapEntry {
  Result code;
  Raiser raise;
  const char *className;
};

#define KV_MAP_LEAF(Name, Group, Code) {Code, &raiseAs<Name>, #Name},
#define KV_MAP_TAPI(Name, Code, Text) {Code, &raiseAs<Name>, #Name},
constexpr MapEntry kCodeMap[] = {
    KV_EXCEPTION_LEAVES(KV_MAP_LEAF)
    // Codes of the INI database that only the library itself can cause.
    {ecNoFieldsDefined, &raiseAs<EInternal>, "EInternal"},
    {ecNoIndexKey, &raiseAs<EInternal>, "EInternal"},
    {ecDatabaseNotPrepared, &raiseAs<EInternal>, "EInternal"},
    // The only protocol codes a session turns into exceptions keep the group class.
    {ecTimeout, &raiseAs<EProtocol>, "EProtocol"},
    {ecTooManyErrors, &raiseAs<EProtocol>, "EProtocol"},
    {ecSequenceError, &raiseAs<EProtocol>, "EProtocol"},
    KV_TAPI_LEAVES(KV_MAP_TAPI)};
#undef KV_MAP_LEAF
#undef KV_MAP_TAPI

const MapEntry *findEntry(Result code) {
  for (const MapEntry &e : kCodeMap)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

void raiseForCode(Result code) {
  if (const MapEntry *e = findEntry(code)) e->raise(code);
  if (code == ecOutOfMemory) throw EOutOfMemory(loadString(messageId(8)));
  if (code <= -2 && code >= -162) {
    const int number = -code;
    std::string text = loadString(messageId(number));
    // An error number without a text of its own still tells the user which one it was.
    if (text.empty()) text = "I/O error " + std::to_string(number);
    throw EInOutError(number, std::move(text));
  }
  throw EKvException("Kv exception");
}

Result RaiseOnError(bool componentLoading, Result code) {
  if (code >= 0 || componentLoading) return code;
  raiseForCode(code);
}

std::string exceptionClassForCode(Result code) {
  if (code >= 0) return {};
  if (const MapEntry *e = findEntry(code)) return e->className;
  if (code == ecOutOfMemory) return "EOutOfMemory";
  if (code <= -2 && code >= -162) return "EInOutError";
  return "EKvException";
}

}  // namespace kv
