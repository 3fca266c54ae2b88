#include "pack/pack_tool.h"

#include <map>
#include <memory>

#include "fs/file_transfer.h"
#include "fs/stream.h"
#include "fs/system_error.h"
#include "pack/bundle_check.h"
#include "pack/icon_file.h"
#include "pack/pe_image.h"
#include "pack/version_info.h"
#include "runtime/exceptions.h"

namespace {

const char Usage[] =
    "usage: quintabel-pack --launcher LAUNCHER.exe --bundle BUNDLE.zip --output OUTPUT.exe\n"
    "                      [--icon ICON.ico] [--product NAME] [--version N[.N[.N[.N]]]]\n"
    "                      [--company NAME] [--copyright TEXT] [--description TEXT]\n"
    "                      [--file-name NAME.exe]\n"
    "       quintabel-pack --check BUNDLE.zip [--target posix|windows]\n"
    "\n"
    "Writes OUTPUT.exe: the Windows launcher LAUNCHER.exe carrying BUNDLE.zip as\n"
    "its application bundle, with the icon and version information given (the\n"
    "launcher's own for the rest). The bundle is checked first, as --check does:\n"
    "it is extracted with the launcher's own reader, and it must hold\n"
    "quintabel.exe, swipl.home and an extractable dereroz.zip at its root,\n"
    "and no entry stored as a link. --target names the platform of the\n"
    "launcher to carry it (default: the one quintabel-pack runs on); for POSIX\n"
    "quintabel.exe must be stored with its execute permission.\n"
    "A signature of LAUNCHER.exe is not carried over: sign OUTPUT.exe afterwards.\n";

// The largest file the tool reads: 2 GiB less one byte.
constexpr size_t MaxInputSize = 0x7FFFFFFF;
// The rights of the output on POSIX, under the umask: a program's.
constexpr uint32_t OutputRights = 0777;

// The whole file Path. Raises EFOpenError or EReadError with the system's
// reason when it cannot be read, EPackError when it is larger than 2 GiB.
TBytes ReadInput(const std::string& Path) {
  std::string Text;
  const TTransferResult Result = ReadWholeFile(Path, MaxInputSize, Text);
  if (Result.Step == tsOpenSource)
    throw EFOpenError(FormatText("Unable to open file \"%s\": %s", Path, SystemErrorReason(Result.Error)));
  if (Result.Error == FileTooLargeError) throw EPackError("\"" + Path + "\" is larger than 2 GiB");
  if (!Result.Ok())
    throw EReadError(FormatText("Stream read error on \"%s\": %s", Path, SystemErrorReason(Result.Error)));
  return TBytes(Text.begin(), Text.end());
}

// Writes Data as the whole file Path, with OutputRights on POSIX: the files
// that stopped runs left beside Path are swept first, then a new file beside
// it is forced to storage and renamed into place, so a failure leaves
// neither a half file at Path nor anything beside it. Raises EWriteError
// when writing fails, EFCreateError when the file cannot be made or put in
// place, both with the system's reason.
void WriteOutput(const std::string& Path, const TBytes& Data) {
  RemoveAbandonedSiblings(Path);
  const TTransferResult Result = ReplaceFileByWriting(
      Path, tdForced,
      [&Data](TStream& Stream) {
        if (!Data.empty()) Stream.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
      },
      OutputRights);
  if (Result.Step == tsWriteTarget)
    throw EWriteError(FormatText("Stream write error on \"%s\": %s", Path, SystemErrorReason(Result.Error)));
  if (!Result.Ok())
    throw EFCreateError(FormatText("Unable to create file \"%s\": %s", Path, SystemErrorReason(Result.Error)));
}

// The options given, by name, with their values.
using TOptions = std::map<std::string, std::string>;

const std::map<std::string, std::string> ValueOptions = {
    {"--launcher", ""},    {"--bundle", ""},    {"--output", ""},  {"--icon", ""},
    {"--product", ""},     {"--version", ""},   {"--company", ""}, {"--copyright", ""},
    {"--description", ""}, {"--file-name", ""}, {"--check", ""},   {"--target", ""}};

// The value of the option Name, empty when it was not given.
std::string OptionValue(const TOptions& Given, const std::string& Name) {
  const auto Found = Given.find(Name);
  return Found == Given.end() ? std::string() : Found->second;
}

// Checks Bundle for Target: false, with the refusal in Errors, when it is
// refused; warnings go to Errors either way.
bool BundleAccepted(const std::string& Bundle, TBundleTarget Target, std::string& Errors) {
  const TBundleCheck Check = CheckBundle(Bundle, Target);
  for (const std::string& Warning : Check.Warnings) Errors += BundleWarningMessage(Bundle, Warning) + "\n";
  if (Check.Problem.empty()) return true;
  Errors += BundleProblemMessage(Bundle, Check.Problem) + "\n";
  return false;
}

// Reads Arguments ("--name value" or "--name=value") into Given: -1 when the
// tool goes on, else the exit code to stop with (0 after --help, 2 for a
// wrong use), its message written to Out or Errors.
int ReadOptions(const std::vector<std::string>& Arguments, TOptions& Given, std::string& Out, std::string& Errors) {
  for (size_t I = 0; I < Arguments.size(); ++I) {
    std::string Name = Arguments[I], Value;
    const size_t Equals = Name.find('=');
    bool Inline = false;
    if (Name.rfind("--", 0) == 0 && Equals != std::string::npos) {
      Value = Name.substr(Equals + 1);
      Name = Name.substr(0, Equals);
      Inline = true;
    }
    if (Name == "--help" || Name == "-h") {
      Out += Usage;
      return 0;
    }
    if (!ValueOptions.count(Name)) {
      Errors += "quintabel-pack: unknown argument \"" + Arguments[I] + "\"\n" + Usage;
      return 2;
    }
    if (!Inline) {
      if (I + 1 >= Arguments.size()) {
        Errors += "quintabel-pack: " + Name + " needs a value\n" + Usage;
        return 2;
      }
      Value = Arguments[++I];
    }
    if (Given.count(Name)) {
      Errors += "quintabel-pack: " + Name + " is given twice\n";
      return 2;
    }
    Given[Name] = Value;
  }
  return -1;
}

// The --check run: checks the bundle named by --check for the platform of
// --target (default: this one); gives the exit code.
int RunCheck(const TOptions& Given, std::string& Errors) {
  if (Given.size() != 1 + Given.count("--target")) {
    Errors += "quintabel-pack: --check takes no other option than --target\n" + std::string(Usage);
    return 2;
  }
  TBundleTarget Target = NativeBundleTarget();
  if (Given.count("--target")) {
    const std::string Named = OptionValue(Given, "--target");
    if (Named != "posix" && Named != "windows") {
      Errors += "quintabel-pack: --target is posix or windows\n" + std::string(Usage);
      return 2;
    }
    Target = Named == "posix" ? btPosix : btWindows;
  }
  return BundleAccepted(OptionValue(Given, "--check"), Target, Errors) ? 0 : 1;
}

// The packing run: writes --output, the launcher --launcher carrying the
// bundle --bundle (checked first) with the icon and version information
// given; gives the exit code. Raises what stops it unforeseen.
int RunPack(const TOptions& Given, std::string& Out, std::string& Errors) {
  if (Given.count("--target")) {
    Errors +=
        "quintabel-pack: --target goes with --check (a launcher it rewrites is for Windows)\n" + std::string(Usage);
    return 2;
  }
  for (const char* Required : {"--launcher", "--bundle", "--output"})
    if (OptionValue(Given, Required).empty()) {
      Errors += std::string("quintabel-pack: ") + Required + " is missing\n" + Usage;
      return 2;
    }
  const std::string LauncherPath = OptionValue(Given, "--launcher"), BundlePath = OptionValue(Given, "--bundle");
  const std::string OutputPath = OptionValue(Given, "--output");

  TVersionFields Fields;
  Fields.ProductName = OptionValue(Given, "--product");
  Fields.Version = OptionValue(Given, "--version");
  Fields.CompanyName = OptionValue(Given, "--company");
  Fields.Copyright = OptionValue(Given, "--copyright");
  Fields.Description = OptionValue(Given, "--description");
  Fields.OriginalFilename = OptionValue(Given, "--file-name");
  if (!Fields.Version.empty()) {
    uint16_t Numbers[4];
    ParseVersionNumbers(Fields.Version, Numbers);
  }

  std::unique_ptr<TLauncherImage> Launcher;
  try {
    Launcher = std::make_unique<TLauncherImage>(ReadInput(LauncherPath));
  } catch (const EPackError& Failure) {
    Errors += "quintabel-pack: \"" + LauncherPath +
              "\" is not a launcher quintabel-pack can use: " + Failure.Message() + ".\n";
    return 1;
  }

  std::vector<TIconImage> Icon;
  if (Given.count("--icon")) {
    const std::string IconPath = OptionValue(Given, "--icon");
    try {
      Icon = ReadIconFile(ReadInput(IconPath));
    } catch (const EPackError& Failure) {
      Errors += "quintabel-pack: \"" + IconPath + "\": " + Failure.Message() + ".\n";
      return 1;
    }
  }

  if (!BundleAccepted(BundlePath, btWindows, Errors)) return 1;

  std::vector<TResource> Resources = Launcher->Resources();
  if (!Icon.empty()) ReplaceIcon(Resources, Icon);
  EditVersionInfo(Resources, Fields);
  const bool WasSigned = Launcher->Signed();
  WriteOutput(OutputPath, Launcher->Rewrite(ReadInput(BundlePath), Resources));
  Out += "Wrote \"" + OutputPath + "\" carrying \"" + BundlePath + "\".\n";
  if (WasSigned) Out += "The launcher's signature was dropped: sign \"" + OutputPath + "\" again.\n";
  return 0;
}

}  // namespace

int RunPackTool(const std::vector<std::string>& Arguments, std::string& Out, std::string& Errors) {
  TOptions Given;
  const int Stop = ReadOptions(Arguments, Given, Out, Errors);
  if (Stop >= 0) return Stop;
  try {
    return Given.count("--check") ? RunCheck(Given, Errors) : RunPack(Given, Out, Errors);
  } catch (const Exception& Failure) {
    Errors += std::string("quintabel-pack: ") + Failure.ClassName() + ": " + Failure.Message() + "\n";
    return 1;
  }
}
