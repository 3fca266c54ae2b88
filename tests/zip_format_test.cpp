// Zip records, the entry list, DOS date-time conversion and the CRC-32.
#include "zip/zip_format.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/test_support.h"
#include "tests/zip_bytes.h"

using qbtest::Contents;
using qbtest::FailureOf;
using qbtest::Le16;
using qbtest::Le32;
using qbtest::StreamOf;

namespace {

TLocalFileHeader SampleLocal() {
  TLocalFileHeader H{};
  H.Signature = LocalFileHeaderSignature;
  H.VersionNeeded = 0x0A14;
  H.Flags = 0x0809;
  H.Method = 8;
  H.ModTime = 0x6DEF;
  H.ModDate = 0x3CCF;
  H.Crc32 = 0xCBF43926;
  H.CompressedSize = 0x01020304;
  H.UncompressedSize = 0xA0B0C0D0;
  H.NameLength = 0x0107;
  H.ExtraLength = 0x0203;
  return H;
}

}  // namespace

// ---------------------------------------------------------------------------
// Records

TEST(ZipRecords, LocalHeaderIsThirtyLittleEndianBytes) {
  TMemoryStream S;
  WriteLocalHeader(S, SampleLocal());
  const auto B = Contents(S);
  ASSERT_EQ(B.size(), 30u);
  EXPECT_EQ(B[0], 'P');
  EXPECT_EQ(B[1], 'K');
  EXPECT_EQ(B[2], 3);
  EXPECT_EQ(B[3], 4);
  EXPECT_EQ(Le16(B, 4), 0x0A14);
  EXPECT_EQ(Le16(B, 6), 0x0809);
  EXPECT_EQ(Le16(B, 8), 8);
  EXPECT_EQ(Le16(B, 10), 0x6DEF);
  EXPECT_EQ(Le16(B, 12), 0x3CCF);
  EXPECT_EQ(Le32(B, 14), 0xCBF43926u);
  EXPECT_EQ(Le32(B, 18), 0x01020304u);
  EXPECT_EQ(Le32(B, 22), 0xA0B0C0D0u);
  EXPECT_EQ(Le16(B, 26), 0x0107);
  EXPECT_EQ(Le16(B, 28), 0x0203);
}

TEST(ZipRecords, LocalHeaderReadsBackEveryField) {
  TMemoryStream S;
  const TLocalFileHeader In = SampleLocal();
  WriteLocalHeader(S, In);
  S.SetPosition(0);
  TLocalFileHeader Out{};
  ReadLocalHeader(S, Out);
  EXPECT_EQ(S.Position(), 30);
  EXPECT_EQ(Out.Signature, In.Signature);
  EXPECT_EQ(Out.VersionNeeded, In.VersionNeeded);
  EXPECT_EQ(Out.Flags, In.Flags);
  EXPECT_EQ(Out.Method, In.Method);
  EXPECT_EQ(Out.ModTime, In.ModTime);
  EXPECT_EQ(Out.ModDate, In.ModDate);
  EXPECT_EQ(Out.Crc32, In.Crc32);
  EXPECT_EQ(Out.CompressedSize, In.CompressedSize);
  EXPECT_EQ(Out.UncompressedSize, In.UncompressedSize);
  EXPECT_EQ(Out.NameLength, In.NameLength);
  EXPECT_EQ(Out.ExtraLength, In.ExtraLength);
}

TEST(ZipRecords, CentralHeaderLayout) {
  TCentralFileHeader H{};
  H.Signature = CentralFileHeaderSignature;
  H.VersionMadeBy = 0x031E;
  H.VersionNeeded = 10;
  H.Flags = 0x0800;
  H.Method = 8;
  H.ModTime = 0x1234;
  H.ModDate = 0x5678;
  H.Crc32 = 0x11223344;
  H.CompressedSize = 0x55667788;
  H.UncompressedSize = 0x99AABBCC;
  H.NameLength = 0x0DEF;
  H.ExtraLength = 0x0102;
  H.CommentLength = 0x0304;
  H.DiskStart = 0x0506;
  H.InternalAttributes = 0x0708;
  H.ExternalAttributes = 0x81ED0020;
  H.LocalHeaderOffset = 0x7FFFFFFE;
  TMemoryStream S;
  WriteCentralHeader(S, H);
  const auto B = Contents(S);
  ASSERT_EQ(B.size(), 46u);
  EXPECT_EQ(Le32(B, 0), 0x02014B50u);
  EXPECT_EQ(Le16(B, 4), 0x031E);
  EXPECT_EQ(Le16(B, 6), 10);
  EXPECT_EQ(Le16(B, 8), 0x0800);
  EXPECT_EQ(Le16(B, 10), 8);
  EXPECT_EQ(Le16(B, 12), 0x1234);
  EXPECT_EQ(Le16(B, 14), 0x5678);
  EXPECT_EQ(Le32(B, 16), 0x11223344u);
  EXPECT_EQ(Le32(B, 20), 0x55667788u);
  EXPECT_EQ(Le32(B, 24), 0x99AABBCCu);
  EXPECT_EQ(Le16(B, 28), 0x0DEF);
  EXPECT_EQ(Le16(B, 30), 0x0102);
  EXPECT_EQ(Le16(B, 32), 0x0304);
  EXPECT_EQ(Le16(B, 34), 0x0506);
  EXPECT_EQ(Le16(B, 36), 0x0708);
  EXPECT_EQ(Le32(B, 38), 0x81ED0020u);
  EXPECT_EQ(Le32(B, 42), 0x7FFFFFFEu);

  S.SetPosition(0);
  TCentralFileHeader R{};
  ReadCentralHeader(S, R);
  EXPECT_EQ(R.VersionMadeBy, H.VersionMadeBy);
  EXPECT_EQ(R.CommentLength, H.CommentLength);
  EXPECT_EQ(R.DiskStart, H.DiskStart);
  EXPECT_EQ(R.InternalAttributes, H.InternalAttributes);
  EXPECT_EQ(R.ExternalAttributes, H.ExternalAttributes);
  EXPECT_EQ(R.LocalHeaderOffset, H.LocalHeaderOffset);
  EXPECT_EQ(R.UncompressedSize, H.UncompressedSize);
  EXPECT_EQ(R.ExtraLength, H.ExtraLength);
}

TEST(ZipRecords, CentralFieldsCopiedFromLocalHeaderAgreeByteForByte) {
  const TLocalFileHeader L = SampleLocal();
  TCentralFileHeader C{};
  C.Signature = CentralFileHeaderSignature;
  C.VersionMadeBy = 10;
  C.VersionNeeded = L.VersionNeeded;
  C.Flags = L.Flags;
  C.Method = L.Method;
  C.ModTime = L.ModTime;
  C.ModDate = L.ModDate;
  C.Crc32 = L.Crc32;
  C.CompressedSize = L.CompressedSize;
  C.UncompressedSize = L.UncompressedSize;
  C.NameLength = L.NameLength;
  C.ExtraLength = L.ExtraLength;
  TMemoryStream Ls, Cs;
  WriteLocalHeader(Ls, L);
  WriteCentralHeader(Cs, C);
  const auto Lb = Contents(Ls), Cb = Contents(Cs);
  EXPECT_TRUE(std::equal(Lb.begin() + 4, Lb.begin() + 30, Cb.begin() + 6));
}

TEST(ZipRecords, EndRecordLayout) {
  TEndOfCentralDir E{};
  E.Signature = EndOfCentralDirSignature;
  E.ThisDisk = 1;
  E.CentralDirDisk = 2;
  E.EntriesThisDisk = 0xFFFF;
  E.TotalEntries = 0x1234;
  E.CentralDirSize = 0xDEADBEEF;
  E.CentralDirOffset = 0x00C0FFEE;
  E.CommentLength = 0x0A0B;
  TMemoryStream S;
  WriteEndOfCentralDir(S, E);
  const auto B = Contents(S);
  ASSERT_EQ(B.size(), 22u);
  EXPECT_EQ(Le32(B, 0), 0x06054B50u);
  EXPECT_EQ(Le16(B, 4), 1);
  EXPECT_EQ(Le16(B, 6), 2);
  EXPECT_EQ(Le16(B, 8), 0xFFFF);
  EXPECT_EQ(Le16(B, 10), 0x1234);
  EXPECT_EQ(Le32(B, 12), 0xDEADBEEFu);
  EXPECT_EQ(Le32(B, 16), 0x00C0FFEEu);
  EXPECT_EQ(Le16(B, 20), 0x0A0B);
  S.SetPosition(0);
  TEndOfCentralDir R{};
  ReadEndOfCentralDir(S, R);
  EXPECT_EQ(R.EntriesThisDisk, 0xFFFF);
  EXPECT_EQ(R.TotalEntries, 0x1234);
  EXPECT_EQ(R.CentralDirSize, 0xDEADBEEFu);
  EXPECT_EQ(R.CentralDirOffset, 0x00C0FFEEu);
  EXPECT_EQ(R.CommentLength, 0x0A0B);
}

TEST(ZipRecords, ShortInputRaisesReadError) {
  std::vector<uint8_t> Bytes(29, 0);
  TMemoryStream S = StreamOf(Bytes);
  TLocalFileHeader H{};
  EXPECT_EQ(FailureOf<EReadError>([&] { ReadLocalHeader(S, H); }), "Stream read error");
  std::vector<uint8_t> C(45, 0), D(21, 0);
  TMemoryStream Cs = StreamOf(C), Ds = StreamOf(D);
  TCentralFileHeader Ch{};
  TEndOfCentralDir Eh{};
  EXPECT_THROW(ReadCentralHeader(Cs, Ch), EReadError);
  EXPECT_THROW(ReadEndOfCentralDir(Ds, Eh), EReadError);
}

// ---------------------------------------------------------------------------
// Entry list

TEST(ZipFileEntries, AddCountIndexClear) {
  TZipFileEntries List;
  EXPECT_EQ(List.Count(), 0);
  TZipFileEntry& A = List.Add();
  A.DiskFileName = "a.txt";
  TMemoryStream M;
  TZipFileEntry& B = List.AddStreamEntry(&M, "b/b.bin");
  EXPECT_EQ(List.Count(), 2);
  EXPECT_EQ(&List[0], &A);
  EXPECT_EQ(&List[1], &B);
  EXPECT_EQ(List[1].Stream, &M);
  EXPECT_EQ(List[1].ArchiveFileName(), "b/b.bin");
  List.Clear();
  EXPECT_EQ(List.Count(), 0);
}

TEST(ZipFileEntries, ArchiveFileNameFallsBackToDiskFileName) {
  TZipFileEntry E;
  E.DiskFileName = "disk.txt";
  EXPECT_EQ(E.ArchiveFileName(), "disk.txt");
  E.SetArchiveFileName("stored.txt");
  EXPECT_EQ(E.ArchiveFileName(), "stored.txt");
  E.SetArchiveFileName("");
  EXPECT_EQ(E.ArchiveFileName(), "disk.txt");
}

// ---------------------------------------------------------------------------
// DOS date-time

namespace {
// 2010-06-15 is day 40344 after 1899-12-30.
const double K20100615 = 40344.0;
double TimeOfDay(int H, int M, int S) { return (H * 3600.0 + M * 60.0 + S) / 86400.0; }
}  // namespace

TEST(DosDateTime, ZeroEncodesAsWrappedYear) {
  uint16_t Date = 1, Time = 1;
  ToDosDateTime(0.0, Date, Time);
  EXPECT_EQ(Date, 0x5F9E);
  EXPECT_EQ(Time, 0x0000);
}

TEST(DosDateTime, ZeroPairDecodesTo20271230) {
  // 2027-12-30 is day 46751.
  EXPECT_DOUBLE_EQ(FromDosDateTime(0x5F9E, 0x0000), 46751.0);
}

TEST(DosDateTime, KnownStampRoundsOddSecondDown) {
  uint16_t Date = 0, Time = 0;
  ToDosDateTime(K20100615 + TimeOfDay(13, 47, 31), Date, Time);
  EXPECT_EQ(Date, 0x3CCF);
  EXPECT_EQ(Time, 0x6DEF);
  EXPECT_NEAR(FromDosDateTime(Date, Time), K20100615 + TimeOfDay(13, 47, 30), 1e-9);
}

TEST(DosDateTime, MillisecondsDropped) {
  uint16_t Date = 0, Time = 0;
  ToDosDateTime(K20100615 + TimeOfDay(23, 59, 58) + 0.9 / 86400.0, Date, Time);
  EXPECT_EQ(Date, 0x3CCF);
  EXPECT_EQ(Time, (58 / 2) + 59 * 32 + 23 * 2048);
}

TEST(DosDateTime, RoundTripOverManyDates) {
  std::mt19937 Gen(7);
  // 1980-01-01 (day 29221) to 2107-12-31 (day 75971).
  std::uniform_int_distribution<int> Day(29221, 75971), Sec(0, 86399);
  for (int I = 0; I < 2000; ++I) {
    const int D = Day(Gen);
    const int S = Sec(Gen) & ~1;
    const double Dt = D + S / 86400.0;
    uint16_t Date = 0, Time = 0;
    ToDosDateTime(Dt, Date, Time);
    ASSERT_NEAR(FromDosDateTime(Date, Time), Dt, 1e-8) << D << " " << S;
  }
}

TEST(DosDateTime, ValuesWithoutCalendarDateEncodeAsZero) {
  for (double V : {1e300, -1e300, std::nan("")}) {
    uint16_t Date = 1, Time = 1;
    ToDosDateTime(V, Date, Time);
    EXPECT_EQ(Date, 0x5F9E);
    EXPECT_EQ(Time, 0);
  }
  // 9999-12-31 23:59:58 still has its own date (year 9999 wraps in 16 bits).
  uint16_t Date = 0, Time = 0;
  ToDosDateTime(2958465.0 + 86398.0 / 86400.0, Date, Time);
  EXPECT_EQ(Date, static_cast<uint16_t>(31 + 12 * 32 + (9999 - 1980) * 512));
  EXPECT_EQ(Time, 29 + 59 * 32 + 23 * 2048);
}

TEST(DosDateTime, LeapDay) {
  uint16_t Date = 0, Time = 0;
  ToDosDateTime(36585.5, Date, Time);  // 2000-02-29 12:00
  EXPECT_EQ(Date, 29 + 2 * 32 + 20 * 512);
  EXPECT_EQ(Time, 12 * 2048);
  // 2001-02-29 does not exist.
  EXPECT_EQ(FailureOf<EConvertError>([&] { FromDosDateTime(29 + 2 * 32 + 21 * 512, 0); }),
            "2001-2-29 is not a valid date specification");
}

TEST(DosDateTime, DateZeroFails) {
  try {
    FromDosDateTime(0, 0);
    FAIL() << "no failure";
  } catch (const EConvertError& E) {
    EXPECT_STREQ(E.ClassName(), "EConvertError");
    EXPECT_EQ(E.Message(), "1980-0-0 is not a valid date specification");
  }
}

TEST(DosDateTime, MonthThirteenFails) { EXPECT_THROW(FromDosDateTime(1 + 13 * 32, 0), EConvertError); }

TEST(DosDateTime, InvalidTimesFail) {
  // minute 60
  EXPECT_EQ(FailureOf<EConvertError>([&] { FromDosDateTime(0x3CCF, 60 << 5); }),
            "0:60:0.0 is not a valid time specification");
  // 60 seconds
  EXPECT_EQ(FailureOf<EConvertError>([&] { FromDosDateTime(0x3CCF, 30 | (5 << 5) | (1 << 11)); }),
            "1:5:60.0 is not a valid time specification");
  EXPECT_THROW(FromDosDateTime(0x3CCF, 31), EConvertError);        // 62 seconds
  EXPECT_THROW(FromDosDateTime(0x3CCF, 24 << 11), EConvertError);  // hour 24
  // The largest valid time decodes.
  EXPECT_NO_THROW(FromDosDateTime(0x3CCF, 29 | (59 << 5) | (23 << 11)));
}

TEST(DosDateTime, TimeCheckedBeforeDate) {
  EXPECT_EQ(FailureOf<EConvertError>([&] { FromDosDateTime(0, 31); }), "0:0:62.0 is not a valid time specification");
}

TEST(DosDateTime, TryGivesTheSameValueOrFalseWithoutRaising) {
  double Value = -1;
  EXPECT_TRUE(TryFromDosDateTime(0x3CCF, 0x6DEF, Value));
  EXPECT_DOUBLE_EQ(Value, FromDosDateTime(0x3CCF, 0x6DEF));
  EXPECT_TRUE(TryFromDosDateTime(0x5F9E, 0, Value));
  EXPECT_DOUBLE_EQ(Value, 46751.0);
  // Invalid dates and times: the value is left as it was.
  Value = 7;
  for (auto [Date, Time] : std::vector<std::pair<uint16_t, uint16_t>>{
           {0, 0}, {1 + 13 * 32, 0}, {29 + 2 * 32 + 21 * 512, 0}, {0x3CCF, 31}, {0x3CCF, 24 << 11}}) {
    EXPECT_FALSE(TryFromDosDateTime(Date, Time, Value)) << Date << " " << Time;
    EXPECT_THROW(FromDosDateTime(Date, Time), EConvertError);
  }
  EXPECT_EQ(Value, 7);
}

// ---------------------------------------------------------------------------
// CRC-32

namespace {
uint32_t Crc(const void* Data, size_t Length) { return ~UpdateCrc32(0xFFFFFFFFu, Data, Length); }
}  // namespace

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc("", 0), 0u);
  EXPECT_EQ(Crc("123456789", 9), 0xCBF43926u);
  uint32_t C = 0xFFFFFFFFu;
  for (char Ch : std::string("123456789")) C = UpdateCrc32(C, static_cast<uint8_t>(Ch));
  EXPECT_EQ(~C, 0xCBF43926u);
}

TEST(Crc32, EqualsZlibOnRandomData) {
  std::mt19937 Gen(12345);
  std::vector<uint8_t> Data(70000);
  for (auto& B : Data) B = static_cast<uint8_t>(Gen());
  // Every length up to 40 at every alignment up to 8, then larger blocks.
  for (size_t Off = 0; Off < 8; ++Off)
    for (size_t Len = 0; Len <= 40; ++Len)
      ASSERT_EQ(Crc(Data.data() + Off, Len), crc32(0, Data.data() + Off, static_cast<uInt>(Len))) << Off << "+" << Len;
  for (size_t Len : {1000u, 4093u, 16384u, 65537u, 69990u})
    EXPECT_EQ(Crc(Data.data() + 3, Len), crc32(0, Data.data() + 3, static_cast<uInt>(Len)));
}

TEST(Crc32, BytewiseEqualsBlockAndRunsChain) {
  std::mt19937 Gen(99);
  std::vector<uint8_t> Data(5000);
  for (auto& B : Data) B = static_cast<uint8_t>(Gen());
  uint32_t Bytewise = 0xFFFFFFFFu;
  for (uint8_t B : Data) Bytewise = UpdateCrc32(Bytewise, B);
  uint32_t Chained = 0xFFFFFFFFu;
  Chained = UpdateCrc32(Chained, Data.data(), 1234);
  Chained = UpdateCrc32(Chained, Data.data() + 1234, Data.size() - 1234);
  EXPECT_EQ(Bytewise, Chained);
  EXPECT_EQ(~Bytewise, crc32(0, Data.data(), static_cast<uInt>(Data.size())));
}
