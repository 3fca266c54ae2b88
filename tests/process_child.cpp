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
  FILE* f = std::fopen(File, "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(Text.data(), 1, Text.size(), f) == Text.size();
  return std::fclose(f) == 0 && ok;
}

void CopyInput() {
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) std::fwrite(buf, 1, n, stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  std::string cmd = argv[1];
  if (cmd == "exit" && argc == 3) return std::atoi(argv[2]);
  if (cmd == "args" && argc >= 3) {
    std::string text;
    for (int i = 3; i < argc; ++i) text += std::string("[") + argv[i] + "]\n";
    return WriteText(argv[2], text) ? 0 : 101;
  }
  if (cmd == "cwd" && argc == 3) {
    return WriteText(argv[2], std::filesystem::current_path().string()) ? 0 : 101;
  }
  if (cmd == "env" && argc == 4) {
    const char* v = std::getenv(argv[2]);
    return WriteText(argv[3], v != nullptr ? v : "(unset)") ? 0 : 101;
  }
  if (cmd == "sleep" && argc == 3) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  if (cmd == "echo" && argc == 2) {
    CopyInput();
    return 0;
  }
  if (cmd == "echoerr" && argc == 2) {
    CopyInput();
    std::fputs("[err]", stderr);
    std::fflush(stderr);
    return 0;
  }
  if (cmd == "waitfile" && argc == 4) {
    for (int i = 0; i < 6000; ++i) {
      if (std::filesystem::exists(argv[2])) return WriteText(argv[3], "done") ? 0 : 101;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 102;
  }
  return 100;
}
