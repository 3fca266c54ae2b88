// Zip records, the entry list, DOS date-time conversion and the CRC-32.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "zip/zip_format.h"

namespace {

std::vector<uint8_t> Contents(TMemoryStream& S) {
  const int64_t n = S.Size();
  return std::vector<uint8_t>(S.Memory(), S.Memory() + n);
}

TMemoryStream StreamOf(const std::vector<uint8_t>& Bytes) {
  TMemoryStream s;
  s.WriteBuffer(Bytes.data(), static_cast<int32_t>(Bytes.size()));
  s.SetPosition(0);
  return s;
}

uint32_t Le32(const std::vector<uint8_t>& B, size_t At) {
  return B[At] | (B[At + 1] << 8) | (B[At + 2] << 16) | (static_cast<uint32_t>(B[At + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& B, size_t At) {
  return static_cast<uint16_t>(B[At] | (B[At + 1] << 8));
}

TLocalFileHeader SampleLocal() {
  TLocalFileHeader h{};
  h.Signature = LocalFileHeaderSignature;
  h.VersionNeeded = 0x0A14;
  h.Flags = 0x0809;
  h.Method = 8;
  h.ModTime = 0x6DEF;
  h.ModDate = 0x3CCF;
  h.Crc32 = 0xCBF43926;
  h.CompressedSize = 0x01020304;
  h.UncompressedSize = 0xA0B0C0D0;
  h.NameLength = 0x0107;
  h.ExtraLength = 0x0203;
  return h;
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

TEST(ZipRecords, LocalHeaderIsThirtyLittleEndianBytes) {
  TMemoryStream s;
  WriteLocalHeader(s, SampleLocal());
  const auto b = Contents(s);
  ASSERT_EQ(b.size(), 30u);
  EXPECT_EQ(b[0], 'P');
  EXPECT_EQ(b[1], 'K');
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[3], 4);
  EXPECT_EQ(Le16(b, 4), 0x0A14);
  EXPECT_EQ(Le16(b, 6), 0x0809);
  EXPECT_EQ(Le16(b, 8), 8);
  EXPECT_EQ(Le16(b, 10), 0x6DEF);
  EXPECT_EQ(Le16(b, 12), 0x3CCF);
  EXPECT_EQ(Le32(b, 14), 0xCBF43926u);
  EXPECT_EQ(Le32(b, 18), 0x01020304u);
  EXPECT_EQ(Le32(b, 22), 0xA0B0C0D0u);
  EXPECT_EQ(Le16(b, 26), 0x0107);
  EXPECT_EQ(Le16(b, 28), 0x0203);
}

TEST(ZipRecords, LocalHeaderReadsBackEveryField) {
  TMemoryStream s;
  const TLocalFileHeader in = SampleLocal();
  WriteLocalHeader(s, in);
  s.SetPosition(0);
  TLocalFileHeader out{};
  ReadLocalHeader(s, out);
  EXPECT_EQ(s.Position(), 30);
  EXPECT_EQ(out.Signature, in.Signature);
  EXPECT_EQ(out.VersionNeeded, in.VersionNeeded);
  EXPECT_EQ(out.Flags, in.Flags);
  EXPECT_EQ(out.Method, in.Method);
  EXPECT_EQ(out.ModTime, in.ModTime);
  EXPECT_EQ(out.ModDate, in.ModDate);
  EXPECT_EQ(out.Crc32, in.Crc32);
  EXPECT_EQ(out.CompressedSize, in.CompressedSize);
  EXPECT_EQ(out.UncompressedSize, in.UncompressedSize);
  EXPECT_EQ(out.NameLength, in.NameLength);
  EXPECT_EQ(out.ExtraLength, in.ExtraLength);
}

TEST(ZipRecords, CentralHeaderLayout) {
  TCentralFileHeader h{};
  h.Signature = CentralFileHeaderSignature;
  h.VersionMadeBy = 0x031E;
  h.VersionNeeded = 10;
  h.Flags = 0x0800;
  h.Method = 8;
  h.ModTime = 0x1234;
  h.ModDate = 0x5678;
  h.Crc32 = 0x11223344;
  h.CompressedSize = 0x55667788;
  h.UncompressedSize = 0x99AABBCC;
  h.NameLength = 0x0DEF;
  h.ExtraLength = 0x0102;
  h.CommentLength = 0x0304;
  h.DiskStart = 0x0506;
  h.InternalAttributes = 0x0708;
  h.ExternalAttributes = 0x81ED0020;
  h.LocalHeaderOffset = 0x7FFFFFFE;
  TMemoryStream s;
  WriteCentralHeader(s, h);
  const auto b = Contents(s);
  ASSERT_EQ(b.size(), 46u);
  EXPECT_EQ(Le32(b, 0), 0x02014B50u);
  EXPECT_EQ(Le16(b, 4), 0x031E);
  EXPECT_EQ(Le16(b, 6), 10);
  EXPECT_EQ(Le16(b, 8), 0x0800);
  EXPECT_EQ(Le16(b, 10), 8);
  EXPECT_EQ(Le16(b, 12), 0x1234);
  EXPECT_EQ(Le16(b, 14), 0x5678);
  EXPECT_EQ(Le32(b, 16), 0x11223344u);
  EXPECT_EQ(Le32(b, 20), 0x55667788u);
  EXPECT_EQ(Le32(b, 24), 0x99AABBCCu);
  EXPECT_EQ(Le16(b, 28), 0x0DEF);
  EXPECT_EQ(Le16(b, 30), 0x0102);
  EXPECT_EQ(Le16(b, 32), 0x0304);
  EXPECT_EQ(Le16(b, 34), 0x0506);
  EXPECT_EQ(Le16(b, 36), 0x0708);
  EXPECT_EQ(Le32(b, 38), 0x81ED0020u);
  EXPECT_EQ(Le32(b, 42), 0x7FFFFFFEu);

  s.SetPosition(0);
  TCentralFileHeader r{};
  ReadCentralHeader(s, r);
  EXPECT_EQ(r.VersionMadeBy, h.VersionMadeBy);
  EXPECT_EQ(r.CommentLength, h.CommentLength);
  EXPECT_EQ(r.DiskStart, h.DiskStart);
  EXPECT_EQ(r.InternalAttributes, h.InternalAttributes);
  EXPECT_EQ(r.ExternalAttributes, h.ExternalAttributes);
  EXPECT_EQ(r.LocalHeaderOffset, h.LocalHeaderOffset);
  EXPECT_EQ(r.UncompressedSize, h.UncompressedSize);
  EXPECT_EQ(r.ExtraLength, h.ExtraLength);
}

TEST(ZipRecords, CentralFieldsCopiedFromLocalHeaderAgreeByteForByte) {
  const TLocalFileHeader l = SampleLocal();
  TCentralFileHeader c{};
  c.Signature = CentralFileHeaderSignature;
  c.VersionMadeBy = 10;
  c.VersionNeeded = l.VersionNeeded;
  c.Flags = l.Flags;
  c.Method = l.Method;
  c.ModTime = l.ModTime;
  c.ModDate = l.ModDate;
  c.Crc32 = l.Crc32;
  c.CompressedSize = l.CompressedSize;
  c.UncompressedSize = l.UncompressedSize;
  c.NameLength = l.NameLength;
  c.ExtraLength = l.ExtraLength;
  TMemoryStream ls, cs;
  WriteLocalHeader(ls, l);
  WriteCentralHeader(cs, c);
  const auto lb = Contents(ls), cb = Contents(cs);
  EXPECT_TRUE(std::equal(lb.begin() + 4, lb.begin() + 30, cb.begin() + 6));
}

TEST(ZipRecords, EndRecordLayout) {
  TEndOfCentralDir e{};
  e.Signature = EndOfCentralDirSignature;
  e.ThisDisk = 1;
  e.CentralDirDisk = 2;
  e.EntriesThisDisk = 0xFFFF;
  e.TotalEntries = 0x1234;
  e.CentralDirSize = 0xDEADBEEF;
  e.CentralDirOffset = 0x00C0FFEE;
  e.CommentLength = 0x0A0B;
  TMemoryStream s;
  WriteEndOfCentralDir(s, e);
  const auto b = Contents(s);
  ASSERT_EQ(b.size(), 22u);
  EXPECT_EQ(Le32(b, 0), 0x06054B50u);
  EXPECT_EQ(Le16(b, 4), 1);
  EXPECT_EQ(Le16(b, 6), 2);
  EXPECT_EQ(Le16(b, 8), 0xFFFF);
  EXPECT_EQ(Le16(b, 10), 0x1234);
  EXPECT_EQ(Le32(b, 12), 0xDEADBEEFu);
  EXPECT_EQ(Le32(b, 16), 0x00C0FFEEu);
  EXPECT_EQ(Le16(b, 20), 0x0A0B);
  s.SetPosition(0);
  TEndOfCentralDir r{};
  ReadEndOfCentralDir(s, r);
  EXPECT_EQ(r.EntriesThisDisk, 0xFFFF);
  EXPECT_EQ(r.TotalEntries, 0x1234);
  EXPECT_EQ(r.CentralDirSize, 0xDEADBEEFu);
  EXPECT_EQ(r.CentralDirOffset, 0x00C0FFEEu);
  EXPECT_EQ(r.CommentLength, 0x0A0B);
}

TEST(ZipRecords, ShortInputRaisesReadError) {
  std::vector<uint8_t> bytes(29, 0);
  TMemoryStream s = StreamOf(bytes);
  TLocalFileHeader h{};
  try {
    ReadLocalHeader(s, h);
    FAIL() << "no failure";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  std::vector<uint8_t> c(45, 0), d(21, 0);
  TMemoryStream cs = StreamOf(c), ds = StreamOf(d);
  TCentralFileHeader ch{};
  TEndOfCentralDir eh{};
  EXPECT_THROW(ReadCentralHeader(cs, ch), EReadError);
  EXPECT_THROW(ReadEndOfCentralDir(ds, eh), EReadError);
}

// ---------------------------------------------------------------------------
// Entry list

TEST(ZipFileEntries, AddCountIndexClear) {
  TZipFileEntries list;
  EXPECT_EQ(list.Count(), 0);
  TZipFileEntry& a = list.Add();
  a.DiskFileName = "a.txt";
  TMemoryStream m;
  TZipFileEntry& b = list.AddStreamEntry(&m, "b/b.bin");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(&list[0], &a);
  EXPECT_EQ(&list[1], &b);
  EXPECT_EQ(list[1].Stream, &m);
  EXPECT_EQ(list[1].ArchiveFileName(), "b/b.bin");
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(ZipFileEntries, ArchiveFileNameFallsBackToDiskFileName) {
  TZipFileEntry e;
  e.DiskFileName = "disk.txt";
  EXPECT_EQ(e.ArchiveFileName(), "disk.txt");
  e.SetArchiveFileName("stored.txt");
  EXPECT_EQ(e.ArchiveFileName(), "stored.txt");
  e.SetArchiveFileName("");
  EXPECT_EQ(e.ArchiveFileName(), "disk.txt");
}

// ---------------------------------------------------------------------------
// DOS date-time

namespace {
// 2010-06-15 is day 40344 after 1899-12-30.
const double k20100615 = 40344.0;
double TimeOfDay(int H, int M, int S) { return (H * 3600.0 + M * 60.0 + S) / 86400.0; }
}  // namespace

TEST(DosDateTime, ZeroEncodesAsWrappedYear) {
  uint16_t date = 1, time = 1;
  ToDosDateTime(0.0, date, time);
  EXPECT_EQ(date, 0x5F9E);
  EXPECT_EQ(time, 0x0000);
}

TEST(DosDateTime, ZeroPairDecodesTo20271230) {
  // 2027-12-30 is day 46751.
  EXPECT_DOUBLE_EQ(FromDosDateTime(0x5F9E, 0x0000), 46751.0);
}

TEST(DosDateTime, KnownStampRoundsOddSecondDown) {
  uint16_t date = 0, time = 0;
  ToDosDateTime(k20100615 + TimeOfDay(13, 47, 31), date, time);
  EXPECT_EQ(date, 0x3CCF);
  EXPECT_EQ(time, 0x6DEF);
  EXPECT_NEAR(FromDosDateTime(date, time), k20100615 + TimeOfDay(13, 47, 30), 1e-9);
}

TEST(DosDateTime, MillisecondsDropped) {
  uint16_t date = 0, time = 0;
  ToDosDateTime(k20100615 + TimeOfDay(23, 59, 58) + 0.9 / 86400.0, date, time);
  EXPECT_EQ(date, 0x3CCF);
  EXPECT_EQ(time, (58 / 2) + 59 * 32 + 23 * 2048);
}

TEST(DosDateTime, RoundTripOverManyDates) {
  std::mt19937 gen(7);
  // 1980-01-01 (day 29221) to 2107-12-31 (day 75971).
  std::uniform_int_distribution<int> day(29221, 75971), sec(0, 86399);
  for (int i = 0; i < 2000; ++i) {
    const int d = day(gen);
    const int s = sec(gen) & ~1;
    const double dt = d + s / 86400.0;
    uint16_t date = 0, time = 0;
    ToDosDateTime(dt, date, time);
    ASSERT_NEAR(FromDosDateTime(date, time), dt, 1e-8) << d << " " << s;
  }
}

TEST(DosDateTime, ValuesWithoutCalendarDateEncodeAsZero) {
  for (double v : {1e300, -1e300, std::nan("")}) {
    uint16_t date = 1, time = 1;
    ToDosDateTime(v, date, time);
    EXPECT_EQ(date, 0x5F9E);
    EXPECT_EQ(time, 0);
  }
  // 9999-12-31 23:59:58 still has its own date (year 9999 wraps in 16 bits).
  uint16_t date = 0, time = 0;
  ToDosDateTime(2958465.0 + 86398.0 / 86400.0, date, time);
  EXPECT_EQ(date, static_cast<uint16_t>(31 + 12 * 32 + (9999 - 1980) * 512));
  EXPECT_EQ(time, 29 + 59 * 32 + 23 * 2048);
}

TEST(DosDateTime, LeapDay) {
  uint16_t date = 0, time = 0;
  ToDosDateTime(36585.5, date, time);  // 2000-02-29 12:00
  EXPECT_EQ(date, 29 + 2 * 32 + 20 * 512);
  EXPECT_EQ(time, 12 * 2048);
  // 2001-02-29 does not exist.
  try {
    FromDosDateTime(29 + 2 * 32 + 21 * 512, 0);
    FAIL() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "2001-2-29 is not a valid date specification");
  }
}

TEST(DosDateTime, DateZeroFails) {
  try {
    FromDosDateTime(0, 0);
    FAIL() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.ClassName(), "EConvertError");
    EXPECT_EQ(e.Message(), "1980-0-0 is not a valid date specification");
  }
}

TEST(DosDateTime, MonthThirteenFails) {
  EXPECT_THROW(FromDosDateTime(1 + 13 * 32, 0), EConvertError);
}

TEST(DosDateTime, InvalidTimesFail) {
  try {
    FromDosDateTime(0x3CCF, 60 << 5);  // minute 60
    FAIL() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "0:60:0.0 is not a valid time specification");
  }
  try {
    FromDosDateTime(0x3CCF, 30 | (5 << 5) | (1 << 11));  // 60 seconds
    FAIL() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "1:5:60.0 is not a valid time specification");
  }
  EXPECT_THROW(FromDosDateTime(0x3CCF, 31), EConvertError);        // 62 seconds
  EXPECT_THROW(FromDosDateTime(0x3CCF, 24 << 11), EConvertError);  // hour 24
  // The largest valid time decodes.
  EXPECT_NO_THROW(FromDosDateTime(0x3CCF, 29 | (59 << 5) | (23 << 11)));
}

TEST(DosDateTime, TimeCheckedBeforeDate) {
  try {
    FromDosDateTime(0, 31);
    FAIL() << "no failure";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "0:0:62.0 is not a valid time specification");
  }
}

TEST(DosDateTime, TryGivesTheSameValueOrFalseWithoutRaising) {
  double value = -1;
  EXPECT_TRUE(TryFromDosDateTime(0x3CCF, 0x6DEF, value));
  EXPECT_DOUBLE_EQ(value, FromDosDateTime(0x3CCF, 0x6DEF));
  EXPECT_TRUE(TryFromDosDateTime(0x5F9E, 0, value));
  EXPECT_DOUBLE_EQ(value, 46751.0);
  // Invalid dates and times: the value is left as it was.
  value = 7;
  for (auto [date, time] : std::vector<std::pair<uint16_t, uint16_t>>{
           {0, 0}, {1 + 13 * 32, 0}, {29 + 2 * 32 + 21 * 512, 0}, {0x3CCF, 31}, {0x3CCF, 24 << 11}}) {
    EXPECT_FALSE(TryFromDosDateTime(date, time, value)) << date << " " << time;
    EXPECT_THROW(FromDosDateTime(date, time), EConvertError);
  }
  EXPECT_EQ(value, 7);
}

// ---------------------------------------------------------------------------
// CRC-32

namespace {
uint32_t Crc(const void* Data, size_t Length) {
  return ~UpdateCrc32(0xFFFFFFFFu, Data, Length);
}
}  // namespace

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc("", 0), 0u);
  EXPECT_EQ(Crc("123456789", 9), 0xCBF43926u);
  uint32_t c = 0xFFFFFFFFu;
  for (char ch : std::string("123456789")) c = UpdateCrc32(c, static_cast<uint8_t>(ch));
  EXPECT_EQ(~c, 0xCBF43926u);
}

TEST(Crc32, EqualsZlibOnRandomData) {
  std::mt19937 gen(12345);
  std::vector<uint8_t> data(70000);
  for (auto& b : data) b = static_cast<uint8_t>(gen());
  // Every length up to 40 at every alignment up to 8, then larger blocks.
  for (size_t off = 0; off < 8; ++off)
    for (size_t len = 0; len <= 40; ++len)
      ASSERT_EQ(Crc(data.data() + off, len),
                crc32(0, data.data() + off, static_cast<uInt>(len)))
          << off << "+" << len;
  for (size_t len : {1000u, 4093u, 16384u, 65537u, 69990u})
    EXPECT_EQ(Crc(data.data() + 3, len), crc32(0, data.data() + 3, static_cast<uInt>(len)));
}

TEST(Crc32, BytewiseEqualsBlockAndRunsChain) {
  std::mt19937 gen(99);
  std::vector<uint8_t> data(5000);
  for (auto& b : data) b = static_cast<uint8_t>(gen());
  uint32_t bytewise = 0xFFFFFFFFu;
  for (uint8_t b : data) bytewise = UpdateCrc32(bytewise, b);
  uint32_t chained = 0xFFFFFFFFu;
  chained = UpdateCrc32(chained, data.data(), 1234);
  chained = UpdateCrc32(chained, data.data() + 1234, data.size() - 1234);
  EXPECT_EQ(bytewise, chained);
  EXPECT_EQ(~bytewise, crc32(0, data.data(), static_cast<uInt>(data.size())));
}
