#include "objects/enums.h"

namespace quorvane {

const EnumInfo& TypeZelObjectEnum() {
  static const EnumInfo info{
      "TTypeZelObject",
      {"tvo_Nop", "tvo_DataSetAnswer", "tvo_CustomerIdentification", "tvo_Answer",
       "tvo_QueryAutorisation", "tvo_SOContainer", "tvo_BlobData", "tvo_Conversation",
       "tvo_ConversationItem", "tvo_FilesList", "tvo_LocalFile", "tvo_RemoteFile", "tvo_Wait",
       "tvo_xFile", "tvo_ResAvatar", "tvo_ResBmp", "tvo_ConnectedUser", "tvo_Partner"}};
  return info;
}

const EnumInfo& TypeOfSexEnum() {
  static const EnumInfo info{"TxTypeOfSex", {"tos_nop", "tos_Male", "tos_Female"}};
  return info;
}

const EnumInfo& TypeOfTitleNameEnum() {
  static const EnumInfo info{"TxTypeOfTitleName",
                             {"totn_M", "totn_Me", "totn_Mlle", "totn_MM", "totn_Mme", "totn_P",
                              "totn_Pr", "totn_Sr", "totn_Dr"}};
  return info;
}

const EnumInfo& TypeOfFamillyStatusEnum() {
  static const EnumInfo info{"TxTypeOfFamillyStatus",
                             {"tofs_nop", "tofs_Alone", "tofs_Maried", "tofs_FreeUnion"}};
  return info;
}

const EnumInfo& TypeOfProxyEnum() {
  static const EnumInfo info{"TxTypeOfProxy", {"toprx_Nop", "toprx_Sockets4", "toprx_Sockets5"}};
  return info;
}

const EnumInfo& SocksAuthenticationEnum() {
  static const EnumInfo info{"TxSocksAuthentication",
                             {"saxNoAuthentication", "saxUsernamePassword"}};
  return info;
}

const EnumInfo& TypeWaitProcessingEnum() {
  static const EnumInfo info{
      "TTypeWaitProcessing",
      {"towp_Queued", "towp_Processing", "towp_ErrorFileNotFound", "towp_ErrorConNotFound"}};
  return info;
}

const EnumInfo& TypeOfFileKindEnum() {
  static const EnumInfo info{
      "TxTypeOfFileKind",
      {"fkAudio", "fkVideo", "fkImage", "fkDocument", "fkArchive", "fkApplication", "fkOther"}};
  return info;
}

const EnumInfo& TypeZelObjectAutorisationEnum() {
  static const EnumInfo info{"TTypeZelObjectAutorisation", {"tvoa_Nop", "tvoa_WBN", "tvoa_PHONE"}};
  return info;
}

}  // namespace quorvane
