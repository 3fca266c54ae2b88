// Failure classes of the whole system and the text formatting their
// messages are built with.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Replaces each %s and %d of Format, left to right, with the next argument
// (text or a number, both accepted for either placeholder); "%%" gives "%".
std::string FormatTextV(const char* Format, const std::vector<std::string>& Args);

namespace format_detail {
inline std::string ToText(const std::string& S) { return S; }
inline std::string ToText(const char* S) { return S ? S : ""; }
template <class T, class = std::enable_if_t<std::is_integral_v<T>>>
std::string ToText(T V) {
  return std::to_string(V);
}
}  // namespace format_detail

template <class... A>
std::string FormatText(const char* Format, const A&... Args) {
  return FormatTextV(Format, {format_detail::ToText(Args)...});
}

// The failure record: the address at which the failure object was made and
// the return addresses active at that moment, innermost first (at most 16).
struct TFailureRecord {
  void* RaiseAddress = nullptr;
  std::vector<void*> Frames;
};

// Records the raising code and the return addresses above it. Called from
// the (always inlined) constructors below, so its own return address lies in
// the function that raised the failure.
void CaptureFailureRecord(TFailureRecord& Record);

// Forces a function into its caller, also without optimisation: the
// constructors of failure objects must not add frames of their own.
#define QB_INLINE_INTO_RAISER inline __attribute__((always_inline))

// Base of every failure object: a class name and a message text, plus the
// record of where it was raised (captured when the object is constructed).
class Exception : public std::exception {
 public:
  QB_INLINE_INTO_RAISER explicit Exception(std::string Message) : FMessage(std::move(Message)) {
    CaptureFailureRecord(FRecord);
  }
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }
  const TFailureRecord& Record() const { return FRecord; }

 private:
  std::string FMessage;
  TFailureRecord FRecord;
};

#define QB_DECLARE_EXCEPTION(Name, Base)                                                   \
  class Name : public Base {                                                               \
   public:                                                                                 \
    QB_INLINE_INTO_RAISER explicit Name(std::string Message) : Base(std::move(Message)) {} \
    const char* ClassName() const override { return #Name; }                               \
  }

QB_DECLARE_EXCEPTION(EStreamError, Exception);
QB_DECLARE_EXCEPTION(EFOpenError, EStreamError);
QB_DECLARE_EXCEPTION(EFCreateError, EStreamError);
QB_DECLARE_EXCEPTION(EFilerError, EStreamError);
QB_DECLARE_EXCEPTION(EReadError, EFilerError);
QB_DECLARE_EXCEPTION(EWriteError, EFilerError);
QB_DECLARE_EXCEPTION(Ezliberror, EStreamError);
QB_DECLARE_EXCEPTION(Ecompressionerror, Ezliberror);
QB_DECLARE_EXCEPTION(Edecompressionerror, Ezliberror);
QB_DECLARE_EXCEPTION(EZipError, Exception);
QB_DECLARE_EXCEPTION(EProcess, Exception);
QB_DECLARE_EXCEPTION(EConvertError, Exception);
QB_DECLARE_EXCEPTION(EOutOfMemory, Exception);
QB_DECLARE_EXCEPTION(EAccessViolation, Exception);
QB_DECLARE_EXCEPTION(EResNotFound, Exception);

// An input or output failure that carries the system's error code.
class EInOutError : public Exception {
 public:
  QB_INLINE_INTO_RAISER EInOutError(std::string Message, int ErrorCode)
      : Exception(std::move(Message)), ErrorCode(ErrorCode) {}
  const char* ClassName() const override { return "EInOutError"; }
  int ErrorCode;
};
