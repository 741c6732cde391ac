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

std::string BuildRestartParameters(const std::vector<std::string>& arguments) {
  std::string parameters;
  for (std::size_t i = 1; i < arguments.size(); ++i)
    parameters += " " + arguments[i];
  return parameters;
}

}  // namespace quorvane
