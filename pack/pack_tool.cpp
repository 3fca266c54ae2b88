#include "pack/pack_tool.h"

#include <map>
#include <memory>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "pack/bundle_check.h"
#include "pack/icon_file.h"
#include "pack/pe_image.h"
#include "pack/version_info.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"

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

TBytes ReadWholeFile(const std::string& Path) {
  TFileStream Stream(Path, fmOpenRead | fmShareDenyWrite);
  const int64_t Size = Stream.Size();
  if (Size > 0x7FFFFFFF) throw EPackError("\"" + Path + "\" is larger than 2 GiB");
  TBytes Data(static_cast<size_t>(Size));
  if (Size > 0) Stream.ReadBuffer(Data.data(), static_cast<int32_t>(Size));
  return Data;
}

// Writes beside Path and renames over it, so a failure leaves no half file:
// neither at Path nor beside it.
void WriteWholeFile(const std::string& Path, const TBytes& Data) {
  const std::string Partial = Path + ".partial";
  bool Created = false, Moved = false;
  TScopeExit DropPartial([&] {
    if (Created && !Moved) RemoveFile(Partial);
  });
  {
    TFileStream Stream(Partial, fmCreate, 0777);
    Created = true;
    if (!Data.empty()) Stream.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
    if (!Stream.FlushToDisk()) throw EWriteError("Stream write error");
  }
  if (!RenameReplace(Partial, Path)) throw EFCreateError(FormatText("Unable to create file \"%s\"", Path));
  Moved = true;
}

const std::map<std::string, std::string> ValueOptions = {
    {"--launcher", ""},    {"--bundle", ""},    {"--output", ""},  {"--icon", ""},
    {"--product", ""},     {"--version", ""},   {"--company", ""}, {"--copyright", ""},
    {"--description", ""}, {"--file-name", ""}, {"--check", ""},   {"--target", ""}};

// Checks Bundle for Target: false, with the refusal in Errors, when it is
// refused; warnings go to Errors either way.
bool BundleAccepted(const std::string& Bundle, TBundleTarget Target, std::string& Errors) {
  const TBundleCheck Check = CheckBundle(Bundle, Target);
  for (const std::string& Warning : Check.Warnings) Errors += BundleWarningMessage(Bundle, Warning) + "\n";
  if (Check.Problem.empty()) return true;
  Errors += BundleProblemMessage(Bundle, Check.Problem) + "\n";
  return false;
}

}  // namespace

int RunPackTool(const std::vector<std::string>& Arguments, std::string& Out, std::string& Errors) {
  std::map<std::string, std::string> Given;
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

  try {
    if (Given.count("--check")) {
      if (Given.size() != 1 + Given.count("--target")) {
        Errors += "quintabel-pack: --check takes no other option than --target\n" + std::string(Usage);
        return 2;
      }
      TBundleTarget Target = NativeBundleTarget();
      if (Given.count("--target")) {
        if (Given["--target"] != "posix" && Given["--target"] != "windows") {
          Errors += "quintabel-pack: --target is posix or windows\n" + std::string(Usage);
          return 2;
        }
        Target = Given["--target"] == "posix" ? btPosix : btWindows;
      }
      return BundleAccepted(Given["--check"], Target, Errors) ? 0 : 1;
    }
    if (Given.count("--target")) {
      Errors +=
          "quintabel-pack: --target goes with --check (a launcher it rewrites is for Windows)\n" + std::string(Usage);
      return 2;
    }
    for (const char* Required : {"--launcher", "--bundle", "--output"})
      if (!Given.count(Required) || Given[Required].empty()) {
        Errors += std::string("quintabel-pack: ") + Required + " is missing\n" + Usage;
        return 2;
      }
    const std::string LauncherPath = Given["--launcher"], BundlePath = Given["--bundle"];
    const std::string OutputPath = Given["--output"];

    TVersionFields Fields;
    Fields.ProductName = Given["--product"];
    Fields.Version = Given["--version"];
    Fields.CompanyName = Given["--company"];
    Fields.Copyright = Given["--copyright"];
    Fields.Description = Given["--description"];
    Fields.OriginalFilename = Given["--file-name"];
    if (!Fields.Version.empty()) {
      uint16_t Numbers[4];
      ParseVersionNumbers(Fields.Version, Numbers);
    }

    std::unique_ptr<TLauncherImage> Launcher;
    try {
      Launcher = std::make_unique<TLauncherImage>(ReadWholeFile(LauncherPath));
    } catch (const EPackError& Failure) {
      Errors += "quintabel-pack: \"" + LauncherPath +
                "\" is not a launcher quintabel-pack can use: " + Failure.Message() + ".\n";
      return 1;
    }

    std::vector<TIconImage> Icon;
    if (Given.count("--icon")) {
      try {
        Icon = ReadIconFile(ReadWholeFile(Given["--icon"]));
      } catch (const EPackError& Failure) {
        Errors += "quintabel-pack: \"" + Given["--icon"] + "\": " + Failure.Message() + ".\n";
        return 1;
      }
    }

    if (!BundleAccepted(BundlePath, btWindows, Errors)) return 1;

    std::vector<TResource> Resources = Launcher->Resources();
    if (!Icon.empty()) ReplaceIcon(Resources, Icon);
    EditVersionInfo(Resources, Fields);
    const bool WasSigned = Launcher->Signed();
    WriteWholeFile(OutputPath, Launcher->Rewrite(ReadWholeFile(BundlePath), Resources));
    Out += "Wrote \"" + OutputPath + "\" carrying \"" + BundlePath + "\".\n";
    if (WasSigned) Out += "The launcher's signature was dropped: sign \"" + OutputPath + "\" again.\n";
    return 0;
  } catch (const Exception& Failure) {
    Errors += std::string("quintabel-pack: ") + Failure.ClassName() + ": " + Failure.Message() + "\n";
    return 1;
  }
}
