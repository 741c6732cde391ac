#include "ui/window_texts.h"

#include "util/codec.h"

namespace quorvane {

using namespace quorvane::literals;

DownloadWindowTexts DownloadTexts(bool english) {
  DownloadWindowTexts texts;
  texts.caption = "Quorvane installation";
  texts.title = "Installation";
  texts.details = "Details";
  if (english) {
    texts.title_explain = "Processing installation of Quorvane, please wait ...";
    texts.installation = "Installation progress";
    texts.phases[0] = "Installing database";
    texts.phases[1] = "Installing packages";
    texts.phases[2] = "Installing kernel";
  } else {
    texts.title_explain = "Processus d'installation de Quorvane en cours, patientez ...";
    texts.installation = "Avancement de l'installation :";
    texts.phases[0] = "Mise à jour de la base de données"_w;
    texts.phases[1] = "Agencement des services";
    texts.phases[2] = "Mise en place du noyau";
  }
  return texts;
}

}  // namespace quorvane
