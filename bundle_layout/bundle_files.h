// The names of the files a bundle holds and of those the launcher brings in
// from the user's folder and carries back: the launcher and the packager's
// bundle check agree on them through this one header.
#pragma once

// At the bundle's root.
inline constexpr char AppExecutableName[] = "quintabel.exe";    // the application, started with one argument
inline constexpr char RuntimeMarkerName[] = "swipl.home";       // copied into the temporary folder for the runtime
inline constexpr char DictionaryArchiveName[] = "dereroz.zip";  // the default dictionary

// The dictionary's folder in the work folder: the archive extracted, packed
// back after the run.
inline constexpr char DictionaryFolderName[] = "dereroz";

// The user's translations, brought in, and the application's, carried back.
inline constexpr char TranslationsInName[] = "trad_dyn.csv";
inline constexpr char TranslationsOutName[] = "trad_dyn.pl";

// The bundle as the launcher's resource, and as the file it is written to.
inline constexpr char BundleResourceName[] = "quintabelprincipal";
inline constexpr char BundleArchiveName[] = "quintabelprincipal.zip";

// The work folder in the temporary folder, which the marker's first line
// names as the runtime's home.
inline constexpr char WorkFolderName[] = "quintabel5";
