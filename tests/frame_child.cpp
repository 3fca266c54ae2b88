// A program built with the run-time frame, started by tests/frame_test.cpp.
//   frame_child SCENARIO RECORD [ARGS...]
// RECORD is a file to which the program appends its events, one per line
// ("init A", "main", "cleanup", "final A", "box"); each message box it would
// show is appended instead to RECORD + ".boxes" as "<length>:<text>". With
// RECORD "-" nothing is recorded and the platform's real boxes are shown.
// Scenarios:
//   ok          modules A, B, C; the main routine only records "main"
//   raise       modules A, B (no finalisation), C; the main routine holds a
//               guard that records "cleanup" and raises EProcess
//   initfail    modules A, F (its initialisation raises EFOpenError), C
//   long        raises EProcess with a message of 2,600 characters
//   splitchar   raises EProcess with a message whose "日" starts one byte
//               before the end of the first box
//   args        records "count N", "arg I [TEXT]" per entry, "first [TEXT]"
//   fault       module A; the main routine writes through a null pointer
//   faultbuffered  module A; the main routine leaves a line in a fully
//               buffered C stream on RECORD + ".buffered", then faults
//   divzero     module A; the main routine divides an integer by zero
//   badalloc    the main routine lets std::bad_alloc out
//   foreign     the main routine raises a std::runtime_error
//   foreignint  the main routine raises an int
//   output      writes lines to both channels and ends a line unfinished
//   halt        module A; the main routine holds a guard and calls Halt(3)
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "runtime/exceptions.h"
#include "runtime/frame.h"
#include "runtime/message_box_channel.h"
#include "tests/frame_long_message.h"

namespace {

std::string RecordPath;

void AppendToFile(const std::string& Path, const std::string& Text) {
  if (Path.empty()) return;
  FILE* F = std::fopen(Path.c_str(), "ab");
  if (F == nullptr) return;
  std::fwrite(Text.data(), 1, Text.size(), F);
  std::fclose(F);
}

void Event(const std::string& Text) { AppendToFile(RecordPath, Text + "\n"); }

void RecordBox(const char* Text, size_t Length) {
  AppendToFile(RecordPath + ".boxes", std::to_string(Length) + ":" + std::string(Text, Length));
  Event("box");
}

void StartRecording() {
  std::string Record = ParamStr(2);
  if (Record.empty() || Record == "-") return;
  RecordPath = Record;
  SetMessageBoxSink(RecordBox);
}

void InitA() { Event("init A"); }
void FinalA() { Event("final A"); }
void InitB() { Event("init B"); }
void InitC() { Event("init C"); }
void FinalC() { Event("final C"); }
void InitFailing() {
  Event("init F");
  throw EFOpenError(FormatText("Unable to open file \"%s\"", "missing.dat"));
}
void FinalFailing() { Event("final F"); }
void MainNonAscii() { throw EFOpenError("Données é"); }

struct TCleanupGuard {
  ~TCleanupGuard() { Event("cleanup"); }
};

void MainOk() { Event("main"); }

void MainRaise() {
  TCleanupGuard Guard;
  Event("main");
  throw EProcess(FormatText("Failed to execute %s : %d", "\"nowhere\\quintabel.exe\" x", 2));
}

void MainLong() { throw EProcess(LongMessage()); }

// The report's first line and "EProcess: " take 65 characters.
void MainSplitChar() { throw EProcess(std::string(1024 - 65 - 1, 'a') + "\xE6\x97\xA5\xE6\x9C\xAC end"); }

void MainArgs() {
  Event("count " + std::to_string(ParamCount()));
  for (int I = 0; I <= ParamCount(); ++I) Event("arg " + std::to_string(I) + " [" + ParamStr(I) + "]");
  Event("first [" + FirstArgument() + "]");
}

void MainFault() {
  Event("main");
  volatile int* Nowhere = nullptr;
  *Nowhere = 1;
  Event("after fault");
}

void MainFaultBuffered() {
  Event("main");
  static char Buffer[4096];
  FILE* F = std::fopen((RecordPath + ".buffered").c_str(), "wb");
  if (F == nullptr) return;
  std::setvbuf(F, Buffer, _IOFBF, sizeof(Buffer));
  std::fputs("still in the stream's buffer\n", F);
  volatile int* Nowhere = nullptr;
  *Nowhere = 1;
  std::fclose(F);
}

volatile int Zero = 0;

void MainDivZero() {
  Event("main");
  volatile int Quotient = 7 / Zero;
  Event("after fault " + std::to_string(Quotient));
}

void MainBadAlloc() { throw std::bad_alloc(); }
void MainForeign() { throw std::runtime_error("not a failure object"); }
void MainForeignInt() { throw 42; }

void MainOutput() {
  WriteStdOut("first line");
  WriteStdErr("second line");
  StdOutChannel().Write("unfinished");
}

void MainHalt() {
  TCleanupGuard Guard;
  Event("main");
  Halt(3);
}

const TModule RecorderOnly[] = {{StartRecording, nullptr}};
const TModule ThreeModules[] = {{StartRecording, nullptr}, {InitA, FinalA}, {InitB, nullptr}, {InitC, FinalC}};
const TModule FailingSecond[] = {
    {StartRecording, nullptr}, {InitA, FinalA}, {InitFailing, FinalFailing}, {InitC, FinalC}};
const TModule OneModule[] = {{StartRecording, nullptr}, {InitA, FinalA}};

template <size_t N>
[[noreturn]] void Run(int Argc, char** Argv, const TModule (&Modules)[N], void (*Main)()) {
  RunProgram(Argc, Argv, Modules, N, Main);
}

}  // namespace

int main(int argc, char** argv) {
  std::string Scenario = argc > 1 ? argv[1] : "";
  if (Scenario == "ok") Run(argc, argv, ThreeModules, MainOk);
  if (Scenario == "raise") Run(argc, argv, ThreeModules, MainRaise);
  if (Scenario == "initfail") Run(argc, argv, FailingSecond, MainOk);
  if (Scenario == "long") Run(argc, argv, RecorderOnly, MainLong);
  if (Scenario == "splitchar") Run(argc, argv, RecorderOnly, MainSplitChar);
  if (Scenario == "nonascii") Run(argc, argv, RecorderOnly, MainNonAscii);
  if (Scenario == "args") Run(argc, argv, RecorderOnly, MainArgs);
  if (Scenario == "fault") Run(argc, argv, OneModule, MainFault);
  if (Scenario == "faultbuffered") Run(argc, argv, OneModule, MainFaultBuffered);
  if (Scenario == "divzero") Run(argc, argv, OneModule, MainDivZero);
  if (Scenario == "badalloc") Run(argc, argv, RecorderOnly, MainBadAlloc);
  if (Scenario == "foreign") Run(argc, argv, RecorderOnly, MainForeign);
  if (Scenario == "foreignint") Run(argc, argv, RecorderOnly, MainForeignInt);
  if (Scenario == "output") Run(argc, argv, RecorderOnly, MainOutput);
  if (Scenario == "halt") Run(argc, argv, OneModule, MainHalt);
  std::fprintf(stderr, "frame_child: unknown scenario\n");
  return 2;
}
