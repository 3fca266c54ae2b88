#include "zip/zip_format.h"

#include <cmath>

#include "runtime/exceptions.h"

// ---------------------------------------------------------------------------
// Records: packed by hand so the layout never depends on the host's byte
// order or on structure padding.

namespace {

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void ReadLocalHeader(TStream& Stream, TLocalFileHeader& H) {
  uint8_t b[LocalFileHeaderSize];
  Stream.ReadBuffer(b, sizeof b);
  H.Signature = Get32(b + 0);
  H.VersionNeeded = Get16(b + 4);
  H.Flags = Get16(b + 6);
  H.Method = Get16(b + 8);
  H.ModTime = Get16(b + 10);
  H.ModDate = Get16(b + 12);
  H.Crc32 = Get32(b + 14);
  H.CompressedSize = Get32(b + 18);
  H.UncompressedSize = Get32(b + 22);
  H.NameLength = Get16(b + 26);
  H.ExtraLength = Get16(b + 28);
}

void WriteLocalHeader(TStream& Stream, const TLocalFileHeader& H) {
  uint8_t b[LocalFileHeaderSize];
  Put32(b + 0, H.Signature);
  Put16(b + 4, H.VersionNeeded);
  Put16(b + 6, H.Flags);
  Put16(b + 8, H.Method);
  Put16(b + 10, H.ModTime);
  Put16(b + 12, H.ModDate);
  Put32(b + 14, H.Crc32);
  Put32(b + 18, H.CompressedSize);
  Put32(b + 22, H.UncompressedSize);
  Put16(b + 26, H.NameLength);
  Put16(b + 28, H.ExtraLength);
  Stream.WriteBuffer(b, sizeof b);
}

void ReadCentralHeader(TStream& Stream, TCentralFileHeader& H) {
  uint8_t b[CentralFileHeaderSize];
  Stream.ReadBuffer(b, sizeof b);
  H.Signature = Get32(b + 0);
  H.VersionMadeBy = Get16(b + 4);
  H.VersionNeeded = Get16(b + 6);
  H.Flags = Get16(b + 8);
  H.Method = Get16(b + 10);
  H.ModTime = Get16(b + 12);
  H.ModDate = Get16(b + 14);
  H.Crc32 = Get32(b + 16);
  H.CompressedSize = Get32(b + 20);
  H.UncompressedSize = Get32(b + 24);
  H.NameLength = Get16(b + 28);
  H.ExtraLength = Get16(b + 30);
  H.CommentLength = Get16(b + 32);
  H.DiskStart = Get16(b + 34);
  H.InternalAttributes = Get16(b + 36);
  H.ExternalAttributes = Get32(b + 38);
  H.LocalHeaderOffset = Get32(b + 42);
}

void WriteCentralHeader(TStream& Stream, const TCentralFileHeader& H) {
  uint8_t b[CentralFileHeaderSize];
  Put32(b + 0, H.Signature);
  Put16(b + 4, H.VersionMadeBy);
  Put16(b + 6, H.VersionNeeded);
  Put16(b + 8, H.Flags);
  Put16(b + 10, H.Method);
  Put16(b + 12, H.ModTime);
  Put16(b + 14, H.ModDate);
  Put32(b + 16, H.Crc32);
  Put32(b + 20, H.CompressedSize);
  Put32(b + 24, H.UncompressedSize);
  Put16(b + 28, H.NameLength);
  Put16(b + 30, H.ExtraLength);
  Put16(b + 32, H.CommentLength);
  Put16(b + 34, H.DiskStart);
  Put16(b + 36, H.InternalAttributes);
  Put32(b + 38, H.ExternalAttributes);
  Put32(b + 42, H.LocalHeaderOffset);
  Stream.WriteBuffer(b, sizeof b);
}

void ReadEndOfCentralDir(TStream& Stream, TEndOfCentralDir& R) {
  uint8_t b[EndOfCentralDirSize];
  Stream.ReadBuffer(b, sizeof b);
  R.Signature = Get32(b + 0);
  R.ThisDisk = Get16(b + 4);
  R.CentralDirDisk = Get16(b + 6);
  R.EntriesThisDisk = Get16(b + 8);
  R.TotalEntries = Get16(b + 10);
  R.CentralDirSize = Get32(b + 12);
  R.CentralDirOffset = Get32(b + 16);
  R.CommentLength = Get16(b + 20);
}

void WriteEndOfCentralDir(TStream& Stream, const TEndOfCentralDir& R) {
  uint8_t b[EndOfCentralDirSize];
  Put32(b + 0, R.Signature);
  Put16(b + 4, R.ThisDisk);
  Put16(b + 6, R.CentralDirDisk);
  Put16(b + 8, R.EntriesThisDisk);
  Put16(b + 10, R.TotalEntries);
  Put32(b + 12, R.CentralDirSize);
  Put32(b + 16, R.CentralDirOffset);
  Put16(b + 20, R.CommentLength);
  Stream.WriteBuffer(b, sizeof b);
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
  TZipFileEntry& e = Add();
  e.Stream = Stream;
  e.SetArchiveFileName(ArchiveFileName);
  return e;
}

TZipFileEntry& TZipFileEntries::operator[](int Index) { return *FItems.at(static_cast<size_t>(Index)); }
const TZipFileEntry& TZipFileEntries::operator[](int Index) const {
  return *FItems.at(static_cast<size_t>(Index));
}

// ---------------------------------------------------------------------------
// Date-time

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Day 0 of the date-time (1899-12-30) counted from 1970-01-01.
constexpr int64_t kUnixEpochOffset = 25569;

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

// Proleptic Gregorian calendar, days counted from 1970-01-01.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

}  // namespace

void ToDosDateTime(double DateTime, uint16_t& DosDate, uint16_t& DosTime) {
  // Values outside the years 1 to 9999 (and NaN) have no calendar date; they
  // are encoded like the zero date-time rather than overflowing.
  if (!(DateTime > -693594.0 && DateTime < 2958466.0)) DateTime = 0;
  // Whole days and the time of day; for dates before day 0 the fraction is
  // still the time of day counted forward from midnight.
  double whole = std::trunc(DateTime);
  int64_t ms = std::llround(std::fabs(DateTime - whole) * kMsPerDay);
  int64_t days = static_cast<int64_t>(whole);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += DateTime < 0 ? -1 : 1;
  }
  int64_t year;
  int month, day;
  CivilFromDays(days - kUnixEpochOffset, year, month, day);
  const int hours = static_cast<int>(ms / 3600000);
  const int minutes = static_cast<int>(ms / 60000 % 60);
  const int seconds = static_cast<int>(ms / 1000 % 60);
  DosTime = static_cast<uint16_t>(seconds / 2 + minutes * 32 + hours * 2048);
  // 16-bit arithmetic: years outside 1980..2107 wrap.
  DosDate = static_cast<uint16_t>(static_cast<uint32_t>(day + month * 32) +
                                  static_cast<uint32_t>((year - 1980) * 512));
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
  bool ValidDate() const {
    return Month >= 1 && Month <= 12 && Day >= 1 && Day <= DaysInMonth(Year, Month);
  }
  double Value() const {
    const double time = (Hours * 3600000.0 + Minutes * 60000.0 + Seconds * 1000.0) / kMsPerDay;
    return static_cast<double>(DaysFromCivil(Year, Month, Day) + kUnixEpochOffset) + time;
  }
  int Seconds, Minutes, Hours, Day, Month, Year;
};

}  // namespace

double FromDosDateTime(uint16_t DosDate, uint16_t DosTime) {
  const TDosFields f(DosDate, DosTime);
  if (!f.ValidTime())
    throw EConvertError(
        FormatText("%d:%d:%d.%d is not a valid time specification", f.Hours, f.Minutes, f.Seconds, 0));
  if (!f.ValidDate())
    throw EConvertError(
        FormatText("%d-%d-%d is not a valid date specification", f.Year, f.Month, f.Day));
  return f.Value();
}

bool TryFromDosDateTime(uint16_t DosDate, uint16_t DosTime, double& DateTime) {
  const TDosFields f(DosDate, DosTime);
  if (!f.ValidTime() || !f.ValidDate()) return false;
  DateTime = f.Value();
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
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      T[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int s = 1; s < 8; ++s) T[s][i] = (T[s - 1][i] >> 8) ^ T[0][T[s - 1][i] & 0xFF];
  }
};

const TCrcTables& CrcTables() {
  static const TCrcTables tables;
  return tables;
}

}  // namespace

uint32_t UpdateCrc32(uint32_t Crc, uint8_t Byte) {
  return (Crc >> 8) ^ CrcTables().T[0][(Crc ^ Byte) & 0xFF];
}

uint32_t UpdateCrc32(uint32_t Crc, const void* Data, size_t Length) {
  const auto& T = CrcTables().T;
  const auto* p = static_cast<const uint8_t*>(Data);
  while (Length >= 8) {
    const uint32_t lo = Crc ^ (static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                               (static_cast<uint32_t>(p[2]) << 16) |
                               (static_cast<uint32_t>(p[3]) << 24));
    Crc = T[7][lo & 0xFF] ^ T[6][(lo >> 8) & 0xFF] ^ T[5][(lo >> 16) & 0xFF] ^ T[4][lo >> 24] ^
          T[3][p[4]] ^ T[2][p[5]] ^ T[1][p[6]] ^ T[0][p[7]];
    p += 8;
    Length -= 8;
  }
  while (Length--) Crc = (Crc >> 8) ^ T[0][(Crc ^ *p++) & 0xFF];
  return Crc;
}
