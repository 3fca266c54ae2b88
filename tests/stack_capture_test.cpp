// The return addresses of a failure record: only the executable's own
// frames, down to the last of them, never a zero or another module's.
#include "runtime/stack_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "runtime/exceptions.h"

namespace {

// The module an address belongs to, asked of the system (not of the code
// under test).
const void* ModuleOf(const void* Address) {
#ifdef _WIN32
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(Address, &info, sizeof info) == 0) return nullptr;
  return info.AllocationBase;
#else
  Dl_info info;
  if (dladdr(Address, &info) == 0) return nullptr;
  return info.dli_fbase;
#endif
}

const void* OwnModule() { return ModuleOf(reinterpret_cast<const void*>(&ModuleOf)); }

__attribute__((noinline)) std::vector<void*> Innermost(int Depth) {
  std::vector<void*> frames;
  if (Depth > 0) {
    frames = Innermost(Depth - 1);
  } else {
    CaptureStack(frames, 0, 60);
  }
  asm volatile("");  // keeps the recursion from becoming a loop
  return frames;
}

}  // namespace

TEST(StackCapture, KeepsOnlyFramesOfTheOwnImage) {
  const std::vector<void*> frames = Innermost(5);
  // The five nested calls, the test body and GoogleTest's frames above it.
  ASSERT_GE(frames.size(), 6u);
  for (void* frame : frames) {
    EXPECT_NE(frame, nullptr);
    EXPECT_EQ(ModuleOf(frame), OwnModule()) << "frame " << frame << " lies in another module";
  }
}

TEST(StackCapture, StopsAtMaxFramesFromTheInnermost) {
  std::vector<void*> all, three;
  CaptureStack(all, 0, 16);
  CaptureStack(three, 0, 3);
  ASSERT_EQ(three.size(), 3u);
  // Two captures from different lines share every frame but the first.
  EXPECT_EQ(three[1], all[1]);
  EXPECT_EQ(three[2], all[2]);
}

TEST(StackCapture, OwnImageIsTheExecutableAlone) {
  EXPECT_TRUE(InOwnImage(reinterpret_cast<const void*>(&OwnModule)));
  EXPECT_FALSE(InOwnImage(nullptr));
  // An address in a system module: a kernel32 function, or the C library's
  // standard output record.
#ifdef _WIN32
  const void* libraryFunction =
      reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
#else
  const void* libraryFunction = static_cast<const void*>(stdout);
#endif
  ASSERT_NE(libraryFunction, nullptr);
  EXPECT_NE(ModuleOf(libraryFunction), OwnModule());
  EXPECT_FALSE(InOwnImage(libraryFunction));
  uintptr_t addresses[] = {0, reinterpret_cast<uintptr_t>(&OwnModule), reinterpret_cast<uintptr_t>(libraryFunction),
                           reinterpret_cast<uintptr_t>(&ModuleOf)};
  ASSERT_EQ(KeepOwnFrames(addresses, 4), 2u);
  EXPECT_EQ(addresses[0], reinterpret_cast<uintptr_t>(&OwnModule));
  EXPECT_EQ(addresses[1], reinterpret_cast<uintptr_t>(&ModuleOf));
}

TEST(StackCapture, FailureRecordOfARaisedFailureEndsInTheOwnImage) {
  try {
    throw EZipError("probe");
  } catch (const Exception& Failure) {
    ASSERT_FALSE(Failure.Record().Frames.empty());
    EXPECT_EQ(ModuleOf(Failure.Record().RaiseAddress), OwnModule());
    for (void* frame : Failure.Record().Frames) EXPECT_EQ(ModuleOf(frame), OwnModule());
  }
}
