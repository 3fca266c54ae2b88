#include "pack/pack_tool.h"

#include <map>
#include <memory>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "pack/bundle_check.h"
#include "pack/pe_image.h"
#include "runtime/exceptions.h"

namespace {

const char Usage[] =
    "usage: quintabel-pack --launcher LAUNCHER.exe --bundle BUNDLE.zip --output OUTPUT.exe\n"
    "                      [--icon ICON.ico] [--product NAME] [--version N[.N[.N[.N]]]]\n"
    "                      [--company NAME] [--copyright TEXT] [--description TEXT]\n"
    "                      [--file-name NAME.exe]\n"
    "       quintabel-pack --check BUNDLE.zip\n"
    "\n"
    "Writes OUTPUT.exe: the Windows launcher LAUNCHER.exe carrying BUNDLE.zip as\n"
    "its application bundle, with the icon and version information given (the\n"
    "launcher's own for the rest). The bundle is checked first, as --check does:\n"
    "it is extracted with the launcher's own reader, and it must hold\n"
    "quintabel.exe, swipl.home and an extractable dereroz.zip at its root.\n"
    "A signature of LAUNCHER.exe is not carried over: sign OUTPUT.exe afterwards.\n";

TBytes ReadWholeFile(const std::string& Path) {
  TFileStream stream(Path, fmOpenRead | fmShareDenyWrite);
  const int64_t size = stream.Size();
  if (size > 0x7FFFFFFF) throw EPackError("\"" + Path + "\" is larger than 2 GiB");
  TBytes data(static_cast<size_t>(size));
  if (size > 0) stream.ReadBuffer(data.data(), static_cast<int32_t>(size));
  return data;
}

// Writes beside Path and renames over it, so a failure leaves no half file.
void WriteWholeFile(const std::string& Path, const TBytes& Data) {
  const std::string partial = Path + ".partial";
  {
    TFileStream stream(partial, fmCreate, 0777);
    if (!Data.empty()) stream.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
    if (!stream.FlushToDisk()) throw EWriteError("Stream write error");
  }
  if (!RenameReplace(partial, Path)) {
    RemoveFile(partial);
    throw EFCreateError(FormatText("Unable to create file \"%s\"", Path));
  }
}

const std::map<std::string, std::string> ValueOptions = {
    {"--launcher", ""}, {"--bundle", ""},  {"--output", ""},      {"--icon", ""},        {"--product", ""},
    {"--version", ""},  {"--company", ""}, {"--copyright", ""},   {"--description", ""}, {"--file-name", ""},
    {"--check", ""}};

}  // namespace

int RunPackTool(const std::vector<std::string>& Arguments, std::string& Out, std::string& Errors) {
  std::map<std::string, std::string> given;
  for (size_t i = 0; i < Arguments.size(); ++i) {
    std::string name = Arguments[i], value;
    const size_t equals = name.find('=');
    bool inline_ = false;
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inline_ = true;
    }
    if (name == "--help" || name == "-h") {
      Out += Usage;
      return 0;
    }
    if (!ValueOptions.count(name)) {
      Errors += "quintabel-pack: unknown argument \"" + Arguments[i] + "\"\n" + Usage;
      return 2;
    }
    if (!inline_) {
      if (i + 1 >= Arguments.size()) {
        Errors += "quintabel-pack: " + name + " needs a value\n" + Usage;
        return 2;
      }
      value = Arguments[++i];
    }
    if (given.count(name)) {
      Errors += "quintabel-pack: " + name + " is given twice\n";
      return 2;
    }
    given[name] = value;
  }

  try {
    if (given.count("--check")) {
      if (given.size() != 1) {
        Errors += "quintabel-pack: --check takes no other option\n" + std::string(Usage);
        return 2;
      }
      const std::string problem = BundleProblem(given["--check"]);
      if (!problem.empty()) {
        Errors += BundleProblemMessage(given["--check"], problem) + "\n";
        return 1;
      }
      return 0;
    }
    for (const char* required : {"--launcher", "--bundle", "--output"})
      if (!given.count(required) || given[required].empty()) {
        Errors += std::string("quintabel-pack: ") + required + " is missing\n" + Usage;
        return 2;
      }
    const std::string launcherPath = given["--launcher"], bundlePath = given["--bundle"];
    const std::string outputPath = given["--output"];

    TVersionFields fields;
    fields.ProductName = given["--product"];
    fields.Version = given["--version"];
    fields.CompanyName = given["--company"];
    fields.Copyright = given["--copyright"];
    fields.Description = given["--description"];
    fields.OriginalFilename = given["--file-name"];
    if (!fields.Version.empty()) {
      uint16_t numbers[4];
      ParseVersionNumbers(fields.Version, numbers);
    }

    std::unique_ptr<TLauncherImage> launcher;
    try {
      launcher = std::make_unique<TLauncherImage>(ReadWholeFile(launcherPath));
    } catch (const EPackError& Failure) {
      Errors += "quintabel-pack: \"" + launcherPath + "\" is not a launcher quintabel-pack can use: " +
                Failure.Message() + ".\n";
      return 1;
    }

    std::vector<TIconImage> icon;
    if (given.count("--icon")) {
      try {
        icon = ReadIconFile(ReadWholeFile(given["--icon"]));
      } catch (const EPackError& Failure) {
        Errors += "quintabel-pack: \"" + given["--icon"] + "\": " + Failure.Message() + ".\n";
        return 1;
      }
    }

    const std::string problem = BundleProblem(bundlePath);
    if (!problem.empty()) {
      Errors += BundleProblemMessage(bundlePath, problem) + "\n";
      return 1;
    }

    std::vector<TResource> resources = launcher->Resources();
    if (!icon.empty()) ReplaceIcon(resources, icon);
    EditVersionInfo(resources, fields);
    const bool wasSigned = launcher->Signed();
    WriteWholeFile(outputPath, launcher->Rewrite(ReadWholeFile(bundlePath), resources));
    Out += "Wrote \"" + outputPath + "\" carrying \"" + bundlePath + "\".\n";
    if (wasSigned) Out += "The launcher's signature was dropped: sign \"" + outputPath + "\" again.\n";
    return 0;
  } catch (const Exception& Failure) {
    Errors += std::string("quintabel-pack: ") + Failure.ClassName() + ": " + Failure.Message() + "\n";
    return 1;
  }
}
