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
  MEMORY_BASIC_INFORMATION Info;
  if (VirtualQuery(Address, &Info, sizeof Info) == 0) return nullptr;
  return Info.AllocationBase;
#else
  Dl_info Info;
  if (dladdr(Address, &Info) == 0) return nullptr;
  return Info.dli_fbase;
#endif
}

const void* OwnModule() { return ModuleOf(reinterpret_cast<const void*>(&ModuleOf)); }

__attribute__((noinline)) std::vector<void*> Innermost(int Depth) {
  std::vector<void*> Frames;
  if (Depth > 0) {
    Frames = Innermost(Depth - 1);
  } else {
    CaptureStack(Frames, 0, 60);
  }
  asm volatile("");  // keeps the recursion from becoming a loop
  return Frames;
}

}  // namespace

TEST(StackCapture, KeepsOnlyFramesOfTheOwnImage) {
  const std::vector<void*> Frames = Innermost(5);
  // The five nested calls, the test body and GoogleTest's frames above it.
  ASSERT_GE(Frames.size(), 6u);
  for (void* Frame : Frames) {
    EXPECT_NE(Frame, nullptr);
    EXPECT_EQ(ModuleOf(Frame), OwnModule()) << "frame " << Frame << " lies in another module";
  }
}

TEST(StackCapture, StopsAtMaxFramesFromTheInnermost) {
  std::vector<void*> All, Three;
  CaptureStack(All, 0, 16);
  CaptureStack(Three, 0, 3);
  ASSERT_EQ(Three.size(), 3u);
  // Two captures from different lines share every frame but the first.
  EXPECT_EQ(Three[1], All[1]);
  EXPECT_EQ(Three[2], All[2]);
}

TEST(StackCapture, OwnImageIsTheExecutableAlone) {
  EXPECT_TRUE(InOwnImage(reinterpret_cast<const void*>(&OwnModule)));
  EXPECT_FALSE(InOwnImage(nullptr));
  // An address in a system module: a kernel32 function, or the C library's
  // standard output record.
#ifdef _WIN32
  const void* LibraryFunction =
      reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
#else
  const void* LibraryFunction = static_cast<const void*>(stdout);
#endif
  ASSERT_NE(LibraryFunction, nullptr);
  EXPECT_NE(ModuleOf(LibraryFunction), OwnModule());
  EXPECT_FALSE(InOwnImage(LibraryFunction));
  uintptr_t Addresses[] = {0, reinterpret_cast<uintptr_t>(&OwnModule), reinterpret_cast<uintptr_t>(LibraryFunction),
                           reinterpret_cast<uintptr_t>(&ModuleOf)};
  ASSERT_EQ(KeepOwnFrames(Addresses, 4), 2u);
  EXPECT_EQ(Addresses[0], reinterpret_cast<uintptr_t>(&OwnModule));
  EXPECT_EQ(Addresses[1], reinterpret_cast<uintptr_t>(&ModuleOf));
}

TEST(StackCapture, FailureRecordOfARaisedFailureEndsInTheOwnImage) {
  try {
    throw EZipError("probe");
  } catch (const Exception& Failure) {
    ASSERT_FALSE(Failure.Record().Frames.empty());
    EXPECT_EQ(ModuleOf(Failure.Record().RaiseAddress), OwnModule());
    for (void* Frame : Failure.Record().Frames) EXPECT_EQ(ModuleOf(Frame), OwnModule());
  }
}
