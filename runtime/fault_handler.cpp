#include "runtime/fault_handler.h"

#include <cstdint>

#include "runtime/exceptions.h"
#include "runtime/failure_report.h"
#include "runtime/frame.h"
#include "runtime/message_box_channel.h"
#include "runtime/process_end.h"

void ReportFaultAndEnd(const char* ClassName, const char* Message, unsigned long long Address,
                       const unsigned long long* ReturnAddresses, unsigned Count) {
  uintptr_t frames[16];
  if (Count > 16) Count = 16;
  for (unsigned i = 0; i < Count; ++i) frames[i] = static_cast<uintptr_t>(ReturnAddresses[i]);
  // Header, class line, up to 17 address lines and the empty line.
  char report[1024];
  size_t length = FormatFaultReport(ClassName, Message, static_cast<uintptr_t>(Address),
                                    frames, Count, report, sizeof(report));
  TMessageBoxBuffer& shared = SharedMessageBoxBuffer();
  shared.Append(report, length);
  shared.ShowAndEmpty();
  EndProcessAfterFault(UnhandledFailureExitCode);
}
