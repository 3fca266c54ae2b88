#include "runtime/frame.h"

#include <cxxabi.h>

#include <cstdlib>
#include <new>
#include <typeinfo>

#include "runtime/exceptions.h"
#include "runtime/failure_report.h"
#include "runtime/fault_handler.h"
#include "runtime/message_box_channel.h"
#include "runtime/process_end.h"

namespace {

// Error number of a run-time error for memory exhaustion.
constexpr int OutOfMemoryErrorNumber = 203;

int ExitCodeValue = 0;
int ArgumentCount = 0;
char** ArgumentValues = nullptr;

// The module table: entry 0 is the frame's run-time support, entries 1 and
// on are the caller's modules. InitialisedCount counts the entries whose
// initialisation has completed, from the start of the table.
const TModule* CallerModules = nullptr;
size_t CallerModuleCount = 0;
size_t InitialisedCount = 0;

void InitialiseSupport() {
  SetArgumentList(ReadArgumentList(ArgumentCount, ArgumentValues));
  StdOutChannel().Reopen();
  StdErrChannel().Reopen();
  InstallFaultHandler();
}

TModule ModuleAt(size_t Index) {
  if (Index == 0) return TModule{InitialiseSupport, nullptr};
  return CallerModules[Index - 1];
}

size_t ModuleCount() { return CallerModuleCount + 1; }

// The class name of the object being handled, readable; empty when the
// run-time cannot tell what it is.
std::string CurrentForeignClassName() {
  const std::type_info* Type = abi::__cxa_current_exception_type();
  if (Type == nullptr || Type->name() == nullptr) return std::string();
  int Status = 0;
  char* Readable = abi::__cxa_demangle(Type->name(), nullptr, nullptr, &Status);
  std::string Name = (Status == 0 && Readable != nullptr) ? Readable : Type->name();
  std::free(Readable);
  return Name;
}

void ReportUnhandled(const std::string& Report) {
  StdErrChannel().Write(Report);
  ExitCodeValue = UnhandledFailureExitCode;
}

// Runs Routine. A failure it lets out is caught here, after the stack between
// the raising point and this guard has unwound (so every clean-up on the way
// has run), and is reported on the standard error channel with exit code 217.
// Gives false after a failure.
bool RunGuarded(void (*Routine)()) {
  try {
    Routine();
    return true;
  } catch (const Exception& Failure) {
    ReportUnhandled(FormatFailureReport(Failure));
  } catch (const std::bad_alloc&) {
    ReportUnhandled(FormatFailureReport(EOutOfMemory("Out of memory")));
  } catch (...) {
    std::string Name = CurrentForeignClassName();
    ReportUnhandled(FormatFailureReport(Name.empty() ? InvalidObjectLine() : ForeignObjectLine(Name), nullptr, {}));
  }
  return false;
}

// A failure before the run-time support is in place: the channels cannot be
// relied on, so the report goes straight to a box and the process ends with
// the error number.
[[noreturn]] void RuntimeError(int ErrorNumber, const void* Address, const std::vector<void*>& ReturnAddresses) {
  std::string Report = FormatRuntimeErrorReport(ErrorNumber, Address, ReturnAddresses);
  TMessageBoxBuffer& Shared = SharedMessageBoxBuffer();
  Shared.Append(Report.data(), Report.size());
  Shared.ShowAndEmpty();
  EndProcess(ErrorNumber);
}

[[noreturn]] void ExitProcedure() {
  StdErrChannel().Flush();
  StdOutChannel().Flush();
  // The count goes down before each call, so that a finalisation that ends
  // the program itself (Halt) leaves only the modules before it to run.
  while (InitialisedCount > 0) {
    TModule Module = ModuleAt(--InitialisedCount);
    if (Module.Finalise != nullptr) RunGuarded(Module.Finalise);
  }
  StdErrChannel().Close();
  StdOutChannel().Close();
  EndProcess(ExitCodeValue);
}

}  // namespace

void RunProgram(int Argc, char** Argv, const TModule* Modules, size_t CallerCount, void (*MainRoutine)()) {
  ExitCodeValue = 0;
  ArgumentCount = Argc;
  ArgumentValues = Argv;
  CallerModules = Modules;
  CallerModuleCount = Modules != nullptr ? CallerCount : 0;
  InitialisedCount = 0;

  try {
    InitialiseSupport();
    InitialisedCount = 1;
  } catch (const Exception& Failure) {
    RuntimeError(UnhandledFailureExitCode, Failure.Record().RaiseAddress, Failure.Record().Frames);
  } catch (const std::bad_alloc&) {
    RuntimeError(OutOfMemoryErrorNumber, nullptr, {});
  } catch (...) {
    RuntimeError(UnhandledFailureExitCode, nullptr, {});
  }

  bool Ready = true;
  for (size_t I = 1; I < ModuleCount() && Ready; ++I) {
    TModule Module = ModuleAt(I);
    if (Module.Initialise != nullptr) Ready = RunGuarded(Module.Initialise);
    if (Ready) InitialisedCount = I + 1;
  }
  if (Ready && MainRoutine != nullptr) RunGuarded(MainRoutine);
  ExitProcedure();
}

void Halt(int Code) {
  ExitCodeValue = Code;
  ExitProcedure();
}

int ExitCode() { return ExitCodeValue; }

void WriteStdErr(const std::string& Text) { StdErrChannel().Write(Text + "\r\n"); }

void WriteStdOut(const std::string& Text) { StdOutChannel().Write(Text + "\r\n"); }
