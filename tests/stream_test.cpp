#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"

TEST(FormatText, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatText("Failed to execute %s : %d", std::string("a b"), 2), "Failed to execute a b : 2");
  EXPECT_EQ(FormatText("%d-%d-%d is not a valid date specification", 1980, 0, 0),
            "1980-0-0 is not a valid date specification");
  EXPECT_EQ(FormatText("100%% of %s", "x"), "100% of x");
}

TEST(Exception, ClassNamesFollowTheHierarchy) {
  try {
    throw EWriteError("Stream write error");
  } catch (const EFilerError& E) {
    EXPECT_STREQ(E.ClassName(), "EWriteError");
    EXPECT_EQ(E.Message(), "Stream write error");
    EXPECT_NE(E.Record().RaiseAddress, nullptr);
  }
  EInOutError Io("Cannot create empty directory", 3);
  EXPECT_EQ(Io.ErrorCode, 3);
  EXPECT_STREQ(Io.ClassName(), "EInOutError");
  EXPECT_TRUE(dynamic_cast<const EStreamError*>(static_cast<const Exception*>(
                  &static_cast<const Exception&>(Edecompressionerror("data error")))) != nullptr);
}

TEST(MemoryStream, ReadWriteSeekAndExactCounts) {
  TMemoryStream M;
  M.WriteBuffer("hello world", 11);
  EXPECT_EQ(M.Size(), 11);
  EXPECT_EQ(M.Position(), 11);
  EXPECT_EQ(M.Seek(-5, soEnd), 6);
  char Buf[16] = {};  // room for all 11 bytes the short read below delivers
  M.ReadBuffer(Buf, 5);
  EXPECT_EQ(std::string(Buf, 5), "world");
  EXPECT_EQ(M.Read(Buf, 4), 0);
  EXPECT_THROW(M.ReadBuffer(Buf, 1), EReadError);
  M.SetPosition(0);
  try {
    M.ReadBuffer(Buf, 12);
    FAIL();
  } catch (const EReadError& E) {
    EXPECT_EQ(E.Message(), "Stream read error");
  }
  EXPECT_TRUE(M.SetSize(3));
  EXPECT_EQ(M.Size(), 3);
}

TEST(MemoryStream, CopyFromWholeSourceAndCounted) {
  TMemoryStream Src, Dst;
  std::string Big(300000, 'x');
  for (size_t I = 0; I < Big.size(); ++I) Big[I] = static_cast<char>(I * 7);
  Src.WriteBuffer(Big.data(), static_cast<int32_t>(Big.size()));
  EXPECT_EQ(Dst.CopyFrom(Src, 0), 300000);
  EXPECT_EQ(std::memcmp(Dst.Memory(), Big.data(), Big.size()), 0);
  Src.SetPosition(10);
  TMemoryStream Part;
  EXPECT_EQ(Part.CopyFrom(Src, 5), 5);
  EXPECT_EQ(std::memcmp(Part.Memory(), Big.data() + 10, 5), 0);
  Src.SetPosition(299999);
  EXPECT_THROW(Part.CopyFrom(Src, 2), EReadError);
}
