// A small program the process tests start as their child. Its first argument
// names what it does:
//   exit N              ends with exit code N
//   args FILE A B ...   writes each of A B ... as one line "[A]" to FILE
//   cwd FILE            writes its current folder to FILE
//   env NAME FILE       writes the value of NAME (or "(unset)") to FILE
//   sleep MS            sleeps MS milliseconds
//   echo                copies standard input to standard output
//   echoerr             as echo, then writes "[err]" to standard error
//   waitfile GO DONE    waits (at most a minute) for the file GO, then
//                       creates the file DONE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace {

bool WriteText(const char* File, const std::string& Text) {
  FILE* F = std::fopen(File, "wb");
  if (F == nullptr) return false;
  bool Ok = std::fwrite(Text.data(), 1, Text.size(), F) == Text.size();
  return std::fclose(F) == 0 && Ok;
}

void CopyInput() {
  char Buf[4096];
  size_t N;
  while ((N = std::fread(Buf, 1, sizeof Buf, stdin)) > 0) std::fwrite(Buf, 1, N, stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  std::string Cmd = argv[1];
  if (Cmd == "exit" && argc == 3) return std::atoi(argv[2]);
  if (Cmd == "args" && argc >= 3) {
    std::string Text;
    for (int I = 3; I < argc; ++I) Text += std::string("[") + argv[I] + "]\n";
    return WriteText(argv[2], Text) ? 0 : 101;
  }
  if (Cmd == "cwd" && argc == 3) {
    return WriteText(argv[2], std::filesystem::current_path().string()) ? 0 : 101;
  }
  if (Cmd == "env" && argc == 4) {
    const char* V = std::getenv(argv[2]);
    return WriteText(argv[3], V != nullptr ? V : "(unset)") ? 0 : 101;
  }
  if (Cmd == "sleep" && argc == 3) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  if (Cmd == "echo" && argc == 2) {
    CopyInput();
    return 0;
  }
  if (Cmd == "echoerr" && argc == 2) {
    CopyInput();
    std::fputs("[err]", stderr);
    std::fflush(stderr);
    return 0;
  }
  if (Cmd == "waitfile" && argc == 4) {
    for (int I = 0; I < 6000; ++I) {
      if (std::filesystem::exists(argv[2])) return WriteText(argv[3], "done") ? 0 : 101;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 102;
  }
  return 100;
}
