#include "zip/zip_format.h"

#include <cmath>

#include "runtime/exceptions.h"
#include "zip/little_endian.h"

// ---------------------------------------------------------------------------
// Records: packed by hand so the layout never depends on the host's byte
// order or on structure padding. Each record's layout is written once, as
// the list of its fields with their offsets; reading and writing both walk
// it.

namespace {

// Calls Field(Offset, Member) for every field of the record, in order.
template <class THeader, class TField>
void LocalHeaderLayout(THeader& H, TField Field) {
  Field(0, H.Signature);
  Field(4, H.VersionNeeded);
  Field(6, H.Flags);
  Field(8, H.Method);
  Field(10, H.ModTime);
  Field(12, H.ModDate);
  Field(14, H.Crc32);
  Field(18, H.CompressedSize);
  Field(22, H.UncompressedSize);
  Field(26, H.NameLength);
  Field(28, H.ExtraLength);
}

template <class THeader, class TField>
void CentralHeaderLayout(THeader& H, TField Field) {
  Field(0, H.Signature);
  Field(4, H.VersionMadeBy);
  Field(6, H.VersionNeeded);
  Field(8, H.Flags);
  Field(10, H.Method);
  Field(12, H.ModTime);
  Field(14, H.ModDate);
  Field(16, H.Crc32);
  Field(20, H.CompressedSize);
  Field(24, H.UncompressedSize);
  Field(28, H.NameLength);
  Field(30, H.ExtraLength);
  Field(32, H.CommentLength);
  Field(34, H.DiskStart);
  Field(36, H.InternalAttributes);
  Field(38, H.ExternalAttributes);
  Field(42, H.LocalHeaderOffset);
}

template <class TRecord, class TField>
void EndOfCentralDirLayout(TRecord& R, TField Field) {
  Field(0, R.Signature);
  Field(4, R.ThisDisk);
  Field(6, R.CentralDirDisk);
  Field(8, R.EntriesThisDisk);
  Field(10, R.TotalEntries);
  Field(12, R.CentralDirSize);
  Field(16, R.CentralDirOffset);
  Field(20, R.CommentLength);
}

void Load(const uint8_t* P, uint16_t& Value) { Value = GetLe16(P); }
void Load(const uint8_t* P, uint32_t& Value) { Value = GetLe32(P); }
void Store(uint8_t* P, uint16_t Value) { PutLe16(P, Value); }
void Store(uint8_t* P, uint32_t Value) { PutLe32(P, Value); }

// Reads Size bytes and fills the record's fields from them through Layout.
template <int32_t Size, class TRecord, class TLayout>
void ReadRecord(TStream& Stream, TRecord& Record, TLayout Layout) {
  uint8_t B[Size];
  Stream.ReadBuffer(B, Size);
  Layout(Record, [&B](int32_t Offset, auto& Field) { Load(B + Offset, Field); });
}

// Packs the record's fields through Layout and writes the Size bytes.
template <int32_t Size, class TRecord, class TLayout>
void WriteRecord(TStream& Stream, const TRecord& Record, TLayout Layout) {
  uint8_t B[Size];
  Layout(Record, [&B](int32_t Offset, const auto& Field) { Store(B + Offset, Field); });
  Stream.WriteBuffer(B, Size);
}

}  // namespace

void ReadLocalHeader(TStream& Stream, TLocalFileHeader& H) {
  ReadRecord<LocalFileHeaderSize>(Stream, H, [](auto& R, auto F) { LocalHeaderLayout(R, F); });
}

void WriteLocalHeader(TStream& Stream, const TLocalFileHeader& H) {
  WriteRecord<LocalFileHeaderSize>(Stream, H, [](auto& R, auto F) { LocalHeaderLayout(R, F); });
}

void ReadCentralHeader(TStream& Stream, TCentralFileHeader& H) {
  ReadRecord<CentralFileHeaderSize>(Stream, H, [](auto& R, auto F) { CentralHeaderLayout(R, F); });
}

void WriteCentralHeader(TStream& Stream, const TCentralFileHeader& H) {
  WriteRecord<CentralFileHeaderSize>(Stream, H, [](auto& R, auto F) { CentralHeaderLayout(R, F); });
}

void ReadEndOfCentralDir(TStream& Stream, TEndOfCentralDir& R) {
  ReadRecord<EndOfCentralDirSize>(Stream, R, [](auto& Record, auto F) { EndOfCentralDirLayout(Record, F); });
}

void WriteEndOfCentralDir(TStream& Stream, const TEndOfCentralDir& R) {
  WriteRecord<EndOfCentralDirSize>(Stream, R, [](auto& Record, auto F) { EndOfCentralDirLayout(Record, F); });
}

// ---------------------------------------------------------------------------
// Entry list

std::string TZipFileEntry::ArchiveFileName() const {
  return FArchiveFileName.empty() ? DiskFileName : FArchiveFileName;
}

void TZipFileEntry::SetArchiveFileName(std::string Name) { FArchiveFileName = std::move(Name); }

TZipFileEntry& TZipFileEntries::Add() {
  FItems.push_back(std::make_unique<TZipFileEntry>());
  return *FItems.back();
}

TZipFileEntry& TZipFileEntries::AddStreamEntry(TStream* Stream, const std::string& ArchiveFileName) {
  TZipFileEntry& E = Add();
  E.Stream = Stream;
  E.SetArchiveFileName(ArchiveFileName);
  return E;
}

TZipFileEntry& TZipFileEntries::operator[](int Index) { return *FItems.at(static_cast<size_t>(Index)); }
const TZipFileEntry& TZipFileEntries::operator[](int Index) const { return *FItems.at(static_cast<size_t>(Index)); }

// ---------------------------------------------------------------------------
// Date-time

namespace {

constexpr int64_t MsPerDay = 86400000;
// Day 0 of the date-time (1899-12-30) counted from 1970-01-01.
constexpr int64_t UnixEpochOffset = 25569;

bool IsLeapYear(int Y) { return (Y % 4 == 0 && Y % 100 != 0) || Y % 400 == 0; }

int DaysInMonth(int Y, int M) {
  static const int DaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (M == 2 && IsLeapYear(Y)) ? 29 : DaysInMonth[M - 1];
}

// Proleptic Gregorian calendar, days counted from 1970-01-01.
int64_t DaysFromCivil(int64_t Y, int M, int D) {
  Y -= M <= 2;
  const int64_t Era = (Y >= 0 ? Y : Y - 399) / 400;
  const int64_t Yoe = Y - Era * 400;
  const int64_t Doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
  const int64_t Doe = Yoe * 365 + Yoe / 4 - Yoe / 100 + Doy;
  return Era * 146097 + Doe - 719468;
}

void CivilFromDays(int64_t Z, int64_t& Y, int& M, int& D) {
  Z += 719468;
  const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const int64_t Doe = Z - Era * 146097;
  const int64_t Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
  const int64_t Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
  const int64_t Mp = (5 * Doy + 2) / 153;
  D = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
  M = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
  Y = Yoe + Era * 400 + (M <= 2);
}

}  // namespace

void ToDosDateTime(double DateTime, uint16_t& DosDate, uint16_t& DosTime) {
  // Values outside the years 1 to 9999 (and NaN) have no calendar date; they
  // are encoded like the zero date-time rather than overflowing.
  if (!(DateTime > -693594.0 && DateTime < 2958466.0)) DateTime = 0;
  // Whole days and the time of day; for dates before day 0 the fraction is
  // still the time of day counted forward from midnight.
  double Whole = std::trunc(DateTime);
  int64_t Ms = std::llround(std::fabs(DateTime - Whole) * MsPerDay);
  int64_t Days = static_cast<int64_t>(Whole);
  if (Ms >= MsPerDay) {
    Ms -= MsPerDay;
    Days += DateTime < 0 ? -1 : 1;
  }
  int64_t Year;
  int Month, Day;
  CivilFromDays(Days - UnixEpochOffset, Year, Month, Day);
  const int Hours = static_cast<int>(Ms / 3600000);
  const int Minutes = static_cast<int>(Ms / 60000 % 60);
  const int Seconds = static_cast<int>(Ms / 1000 % 60);
  DosTime = static_cast<uint16_t>(Seconds / 2 + Minutes * 32 + Hours * 2048);
  // 16-bit arithmetic: years outside 1980..2107 wrap.
  DosDate = static_cast<uint16_t>(static_cast<uint32_t>(Day + Month * 32) + static_cast<uint32_t>((Year - 1980) * 512));
}

namespace {

// The fields of a DOS date and time, as stored.
struct TDosFields {
  explicit TDosFields(uint16_t DosDate, uint16_t DosTime)
      : Seconds((DosTime & 31) * 2),
        Minutes((DosTime >> 5) & 63),
        Hours((DosTime >> 11) & 31),
        Day(DosDate & 31),
        Month((DosDate >> 5) & 15),
        Year(((DosDate >> 9) & 127) + 1980) {}
  bool ValidTime() const { return Hours < 24 && Minutes < 60 && Seconds < 60; }
  bool ValidDate() const { return Month >= 1 && Month <= 12 && Day >= 1 && Day <= DaysInMonth(Year, Month); }
  double Value() const {
    const double Time = (Hours * 3600000.0 + Minutes * 60000.0 + Seconds * 1000.0) / MsPerDay;
    return static_cast<double>(DaysFromCivil(Year, Month, Day) + UnixEpochOffset) + Time;
  }
  int Seconds, Minutes, Hours, Day, Month, Year;
};

}  // namespace

double FromDosDateTime(uint16_t DosDate, uint16_t DosTime) {
  const TDosFields F(DosDate, DosTime);
  if (!F.ValidTime())
    throw EConvertError(FormatText("%d:%d:%d.%d is not a valid time specification", F.Hours, F.Minutes, F.Seconds, 0));
  if (!F.ValidDate())
    throw EConvertError(FormatText("%d-%d-%d is not a valid date specification", F.Year, F.Month, F.Day));
  return F.Value();
}

bool TryFromDosDateTime(uint16_t DosDate, uint16_t DosTime, double& DateTime) {
  const TDosFields F(DosDate, DosTime);
  if (!F.ValidTime() || !F.ValidDate()) return false;
  DateTime = F.Value();
  return true;
}

// ---------------------------------------------------------------------------
// CRC-32

namespace {

struct TCrcTables {
  // T[0] is the standard table: T[0][i] is the CRC of the single byte i.
  // T[1..7] extend it so a block can be folded eight bytes at a time; the
  // result is the same as feeding the bytes one by one through T[0].
  uint32_t T[8][256];
  TCrcTables() {
    for (uint32_t I = 0; I < 256; ++I) {
      uint32_t C = I;
      for (int K = 0; K < 8; ++K) C = (C & 1) ? (C >> 1) ^ 0xEDB88320u : C >> 1;
      T[0][I] = C;
    }
    for (uint32_t I = 0; I < 256; ++I)
      for (int S = 1; S < 8; ++S) T[S][I] = (T[S - 1][I] >> 8) ^ T[0][T[S - 1][I] & 0xFF];
  }
};

const TCrcTables& CrcTables() {
  static const TCrcTables Tables;
  return Tables;
}

}  // namespace

uint32_t UpdateCrc32(uint32_t Crc, uint8_t Byte) { return (Crc >> 8) ^ CrcTables().T[0][(Crc ^ Byte) & 0xFF]; }

uint32_t UpdateCrc32(uint32_t Crc, const void* Data, size_t Length) {
  const auto& T = CrcTables().T;
  const auto* P = static_cast<const uint8_t*>(Data);
  while (Length >= 8) {
    const uint32_t Lo = Crc ^ GetLe32(P);
    Crc = T[7][Lo & 0xFF] ^ T[6][(Lo >> 8) & 0xFF] ^ T[5][(Lo >> 16) & 0xFF] ^ T[4][Lo >> 24] ^ T[3][P[4]] ^
          T[2][P[5]] ^ T[1][P[6]] ^ T[0][P[7]];
    P += 8;
    Length -= 8;
  }
  while (Length--) Crc = (Crc >> 8) ^ T[0][(Crc ^ *P++) & 0xFF];
  return Crc;
}
