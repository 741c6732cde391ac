#include "objects/register_classes.h"

#include <iterator>
#include <string>
#include <string_view>

#include "model/class_registry.h"
#include "model/message_box.h"
#include "objects/answers.h"
#include "objects/containers.h"
#include "objects/conversations.h"
#include "objects/customer.h"
#include "objects/files.h"
#include "objects/resources.h"

namespace quorvane {
namespace {

struct ClassEntry {
  std::string_view name;
  ObjectFactory create;
};

// In TTypeZelObject order: the index is the type code.
constexpr ClassEntry kClassTable[] = {
    {"TZelObject", &CreateInstance<TZelObject>},
    {"TZelSObjectDataSetAnswer", &CreateInstance<TZelSObjectDataSetAnswer>},
    {"TZelSObjectCustomerIdentification", &CreateInstance<TZelSObjectCustomerIdentification>},
    {"TZelSObjectAnswer", &CreateInstance<TZelSObjectAnswer>},
    {"TZelSObjectQueryAutorisation", &CreateInstance<TZelSObjectQueryAutorisation>},
    {"TZelSOContainer", &CreateInstance<TZelSOContainer>},
    {"TZelSOObjectAsBlob", &CreateInstance<TZelSOObjectAsBlob>},
    {"TZelSObjectConversation", &CreateInstance<TZelSObjectConversation>},
    {"TZelSObjectConversationItem", &CreateInstance<TZelSObjectConversationItem>},
    {"TSOFilesList", &CreateInstance<TSOFilesList>},
    {"TZelSObjectLocalFile", &CreateInstance<TZelSObjectLocalFile>},
    {"TZelSObjectRemoteFile", &CreateInstance<TZelSObjectRemoteFile>},
    {"TZelSObjectWait", &CreateInstance<TZelSObjectWait>},
    {"TSOFile", &CreateInstance<TSOFile>},
    {"TRessourceAvatar", &CreateInstance<TRessourceAvatar>},
    {"TxRessourceBitmap", &CreateInstance<TxRessourceBitmap>},
    {"TZelConnectedUser", &CreateInstance<TZelConnectedUser>},
    {"TZelSObjectPartner", &CreateInstance<TZelSObjectPartner>},
};

static_assert(std::size(kClassTable) == tvo_Partner + 1);

}  // namespace

void RegisterClasses() {
  int type_code = 0;
  for (const ClassEntry& entry : kClassTable) {
    const std::string name(entry.name);
    if (FindClass(name) == nullptr) RegisterClass(name, entry.create, type_code);
    if (FindClass(name) == nullptr)
      CurrentMessageBoxService().ShowMessage("Erreur logicielle", "Class not registered:" + name);
    ++type_code;
  }
}

}  // namespace quorvane
