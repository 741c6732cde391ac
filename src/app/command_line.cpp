#include "app/command_line.h"

#include "settings/settings.h"
#include "util/text.h"

namespace quorvane {

std::string ParseCommandLine(const std::vector<std::string>& arguments) {
  static const char* const kFlagWords[] = {"nofs", "nores", "develop", "tst",
                                           "hide", "trgt1", "trgt2",   "trgt3"};
  std::string flags;
  for (const std::string& argument : arguments) {
    const std::string word = LowerCase(argument);
    if (word == "english") {
      WriteSetting(kSettingLanguage, kLanguageEnglish);
    } else if (word == "french") {
      WriteSetting(kSettingLanguage, kLanguageFrench);
    } else {
      for (const char* flag : kFlagWords)
        if (word == flag) flags += UpperCase(word);
    }
  }
  return flags;
}

std::optional<std::string> InformationRequest(const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--version") return std::string("quorvane-setup ") + kSetupVersion + "\n";
    if (arguments[i] == "--help")
      return "usage: quorvane-setup [word ...]\n"
             "Installs or updates Quorvane in the folder this program runs from, then starts\n"
             "QuorvaneCustomer.exe there with the same arguments.\n"
             "\n"
             "Words (any case; anything else is passed on and otherwise ignored):\n"
             "  nofs             skip the search for the server\n"
             "  develop          development choice of the server\n"
             "  trgt1 trgt2 trgt3  target server 1, 2 or 3\n"
             "  hide             do not show the download window\n"
             "  english french   language of the windows (kept for later runs)\n"
             "  nores tst        accepted, no effect\n"
             "\n"
             "  --help           print this text and exit\n"
             "  --version        print the version and exit\n"
             "\n"
             "QUORVANE_UI=console or =qt chooses the terminal or the windows.\n";
  }
  return std::nullopt;
}

std::string BuildRestartParameters(const std::vector<std::string>& arguments) {
  std::string parameters;
  for (std::size_t i = 1; i < arguments.size(); ++i)
    parameters += " " + arguments[i];
  return parameters;
}

}  // namespace quorvane
