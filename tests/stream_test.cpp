#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"

TEST(FormatText, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatText("Failed to execute %s : %d", std::string("a b"), 2),
            "Failed to execute a b : 2");
  EXPECT_EQ(FormatText("%d-%d-%d is not a valid date specification", 1980, 0, 0),
            "1980-0-0 is not a valid date specification");
  EXPECT_EQ(FormatText("100%% of %s", "x"), "100% of x");
}

TEST(Exception, ClassNamesFollowTheHierarchy) {
  try {
    throw EWriteError("Stream write error");
  } catch (const EFilerError& e) {
    EXPECT_STREQ(e.ClassName(), "EWriteError");
    EXPECT_EQ(e.Message(), "Stream write error");
    EXPECT_NE(e.Record().RaiseAddress, nullptr);
  }
  EInOutError io("Cannot create empty directory", 3);
  EXPECT_EQ(io.ErrorCode, 3);
  EXPECT_STREQ(io.ClassName(), "EInOutError");
  EXPECT_TRUE(dynamic_cast<const EStreamError*>(static_cast<const Exception*>(
                  &static_cast<const Exception&>(Edecompressionerror("data error")))) != nullptr);
}

TEST(MemoryStream, ReadWriteSeekAndExactCounts) {
  TMemoryStream m;
  m.WriteBuffer("hello world", 11);
  EXPECT_EQ(m.Size(), 11);
  EXPECT_EQ(m.Position(), 11);
  EXPECT_EQ(m.Seek(-5, soEnd), 6);
  char buf[8] = {};
  m.ReadBuffer(buf, 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(m.Read(buf, 4), 0);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
  m.SetPosition(0);
  try {
    m.ReadBuffer(buf, 12);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_TRUE(m.SetSize(3));
  EXPECT_EQ(m.Size(), 3);
}

TEST(MemoryStream, CopyFromWholeSourceAndCounted) {
  TMemoryStream src, dst;
  std::string big(300000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  src.WriteBuffer(big.data(), static_cast<int32_t>(big.size()));
  EXPECT_EQ(dst.CopyFrom(src, 0), 300000);
  EXPECT_EQ(std::memcmp(dst.Memory(), big.data(), big.size()), 0);
  src.SetPosition(10);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(src, 5), 5);
  EXPECT_EQ(std::memcmp(part.Memory(), big.data() + 10, 5), 0);
  src.SetPosition(299999);
  EXPECT_THROW(part.CopyFrom(src, 2), EReadError);
}
