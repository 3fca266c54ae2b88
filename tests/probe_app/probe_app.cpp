// The probe application: carried in a test bundle as "quintabel.exe", it
// records what the launcher gave it and then does what a control file in
// the current folder asks.
//
// Record, written to "probe_report.txt" in the current folder, one fact a
// line: argc=, arg=, cmdline=, cwd=, self=, temp=, tmp=, marker=, beside=,
// csv=, nested=, dict= (name:content with newlines as \n, or name/ for a
// folder).
//
// Control, "probe_control_<first argument>.txt" in the current folder when
// there is one, else "probe_control.txt", one command a line:
//   pl TEXT            write TEXT and a newline to trad_dyn.pl beside itself
//   dict NAME TEXT     write TEXT and a newline to dereroz/NAME
//   empty              remove every file in dereroz
//   subfolder NAME     create the folder dereroz/NAME
//   nodict             remove the folder dereroz itself, with everything in it
//   signal NAME        create the file NAME in the current folder
//   wait NAME          wait (up to two minutes) until NAME exists in the current folder
//   sleep MS           sleep MS milliseconds
//   plsize N           write N bytes ("x") to trad_dyn.pl beside itself
//   dictmany PREFIX N  write N files PREFIX<i>.txt to dereroz
//   fill NAME          write NAME beside itself until its volume is full
//   onterm TEXT        from now on, a request to stop (SIGTERM/SIGINT/SIGHUP) is
//                      answered by writing TEXT to trad_dyn.pl and ending
//                      with exit code 0 (the waits below watch for it)
//   exit CODE          end with that exit code
//   crash              end as a crash does
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/probe_app/probe_platform.h"

namespace fsys = std::filesystem;

namespace {

fsys::path U8(const std::string& Text) { return fsys::u8path(Text); }

std::string ReadText(const fsys::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void WriteText(const fsys::path& Path, const std::string& Text) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out << Text;
}

std::string Escape(const std::string& Text) {
  std::string Out;
  for (char C : Text) {
    if (C == '\n')
      Out += "\\n";
    else if (C == '\r')
      Out += "\\r";
    else
      Out += C;
  }
  return Out;
}

std::vector<std::string> SortedNames(const fsys::path& Folder) {
  std::vector<std::string> Names;
  std::error_code Error;
  for (fsys::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error))
    Names.push_back(It->path().filename().u8string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

std::string TerminationText;

// After "onterm": a request to stop has come; the answer is written and the
// probe ends normally.
bool Terminated(const fsys::path& Self) {
  if (TerminationText.empty() || !ProbeTerminationRequested()) return false;
  WriteText(Self / "trad_dyn.pl", TerminationText + "\n");
  std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const fsys::path Self = U8(ProbeOwnFolder());
  const fsys::path Current = U8(ProbeCurrentFolder());
  const fsys::path Dictionary = Self / "dereroz";

  std::ostringstream Report;
  std::vector<std::string> Arguments = ProbeArguments(argc, argv);
  Report << "argc=" << Arguments.size() << "\n";
  for (const std::string& Argument : Arguments) Report << "arg=" << Argument << "\n";
  Report << "cmdline=" << ProbeCommandLine() << "\n";
  Report << "cwd=" << Current.u8string() << "\n";
  Report << "self=" << Self.u8string() << "\n";
  bool Present = false;
  std::string Value = ProbeEnvironment("TEMP", Present);
  Report << "temp=" << (Present ? Value : "<unset>") << "\n";
  Value = ProbeEnvironment("TMP", Present);
  Report << "tmp=" << (Present ? Value : "<unset>") << "\n";
  // The work folder lies directly in the temporary folder, where the
  // launcher puts the runtime marker.
  Report << "marker=" << (fsys::exists(Self.parent_path() / "swipl.home") ? "yes" : "no") << "\n";
  std::string Beside;
  for (const std::string& Name : SortedNames(Self)) Beside += (Beside.empty() ? "" : ",") + Name;
  Report << "beside=" << Beside << "\n";
  Report << "csv=" << (fsys::exists(Self / "trad_dyn.csv") ? Escape(ReadText(Self / "trad_dyn.csv")) : "<none>")
         << "\n";
  Report << "nested=" << (fsys::exists(Self / "lib" / "nested" / "deep.txt") ? "yes" : "no") << "\n";
  for (const std::string& Name : SortedNames(Dictionary)) {
    if (fsys::is_directory(Dictionary / U8(Name)))
      Report << "dict=" << Name << "/\n";
    else
      Report << "dict=" << Name << ":" << Escape(ReadText(Dictionary / U8(Name))) << "\n";
  }
  WriteText(Current / "probe_report.txt", Report.str());

  // Launchers started together from one folder: each application finds
  // its own commands under its first argument.
  fsys::path ControlFile = Current / "probe_control.txt";
  if (!Arguments.empty() && !Arguments[0].empty() &&
      fsys::exists(Current / U8("probe_control_" + Arguments[0] + ".txt")))
    ControlFile = Current / U8("probe_control_" + Arguments[0] + ".txt");
  std::ifstream Control(ControlFile, std::ios::binary);
  std::string Line;
  while (std::getline(Control, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    std::istringstream Words(Line);
    std::string Command;
    Words >> Command;
    std::string Rest;
    std::getline(Words >> std::ws, Rest);
    if (Command == "pl") {
      WriteText(Self / "trad_dyn.pl", Rest + "\n");
    } else if (Command == "dict") {
      size_t Space = Rest.find(' ');
      WriteText(Dictionary / U8(Rest.substr(0, Space)),
                (Space == std::string::npos ? "" : Rest.substr(Space + 1)) + "\n");
    } else if (Command == "empty") {
      for (const std::string& Name : SortedNames(Dictionary)) fsys::remove_all(Dictionary / U8(Name));
    } else if (Command == "subfolder") {
      fsys::create_directories(Dictionary / U8(Rest));
    } else if (Command == "nodict") {
      fsys::remove_all(Dictionary);
    } else if (Command == "signal") {
      WriteText(Current / U8(Rest), "signal\n");
    } else if (Command == "wait") {
      for (int I = 0; I < 6000 && !fsys::exists(Current / U8(Rest)) && !Terminated(Self); ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else if (Command == "sleep") {
      for (int Left = std::stoi(Rest); Left > 0 && !Terminated(Self); Left -= 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else if (Command == "plsize") {
      WriteText(Self / "trad_dyn.pl", std::string(std::stoul(Rest), 'x'));
    } else if (Command == "dictmany") {
      std::istringstream Args(Rest);
      std::string Prefix;
      int Count = 0;
      Args >> Prefix >> Count;
      for (int I = 0; I < Count; ++I)
        WriteText(Dictionary / U8(Prefix + std::to_string(I) + ".txt"), "entry " + std::to_string(I) + "\n");
    } else if (Command == "fill") {
      std::ofstream Out(Self / U8(Rest), std::ios::binary);
      const std::string Block(65536, 'f');
      while (Out.write(Block.data(), static_cast<std::streamsize>(Block.size())) && Out.flush()) {
      }
    } else if (Command == "onterm") {
      TerminationText = Rest;
      ProbeOnTermination();
    } else if (Command == "exit") {
      return std::stoi(Rest);
    } else if (Command == "crash") {
      ProbeCrash();
    }
  }
  return 0;
}
