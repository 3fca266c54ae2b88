#include "runtime/fault_handler.h"

#include <cstdint>

#include "runtime/exceptions.h"
#include "runtime/failure_report.h"
#include "runtime/frame.h"
#include "runtime/message_box_channel.h"
#include "runtime/process_end.h"

void ReportFaultAndEnd(const char* ClassName, const char* Message, unsigned long long Address,
                       const unsigned long long* ReturnAddresses, unsigned Count) {
  uintptr_t Frames[16];
  if (Count > 16) Count = 16;
  for (unsigned I = 0; I < Count; ++I) Frames[I] = static_cast<uintptr_t>(ReturnAddresses[I]);
  // Header, class line, up to 17 address lines and the empty line.
  char Report[1024];
  size_t Length =
      FormatFaultReport(ClassName, Message, static_cast<uintptr_t>(Address), Frames, Count, Report, sizeof(Report));
  TMessageBoxBuffer& Shared = SharedMessageBoxBuffer();
  Shared.Append(Report, Length);
  Shared.ShowAndEmpty();
  EndProcessAfterFault(UnhandledFailureExitCode);
}
