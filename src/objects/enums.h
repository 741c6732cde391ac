// The enumerated property types of the message classes, and their member-name
// tables (EnumInfo) under the declared type names that property declarations
// and display names look up. The tables are immutable and readable from any thread.
#pragma once

#include <cstdint>

#include "model/property_info.h"

namespace quorvane {

// The kind of a message class; also its index in the class registry.
enum TTypeZelObject : std::uint8_t {
  tvo_Nop,
  tvo_DataSetAnswer,
  tvo_CustomerIdentification,
  tvo_Answer,
  tvo_QueryAutorisation,
  tvo_SOContainer,
  tvo_BlobData,
  tvo_Conversation,
  tvo_ConversationItem,
  tvo_FilesList,
  tvo_LocalFile,
  tvo_RemoteFile,
  tvo_Wait,
  tvo_xFile,
  tvo_ResAvatar,
  tvo_ResBmp,
  tvo_ConnectedUser,
  tvo_Partner,
};

enum TxTypeOfSex : std::uint8_t { tos_nop, tos_Male, tos_Female };

enum TxTypeOfTitleName : std::uint8_t {
  totn_M,
  totn_Me,
  totn_Mlle,
  totn_MM,
  totn_Mme,
  totn_P,
  totn_Pr,
  totn_Sr,
  totn_Dr,
};

enum TxTypeOfFamillyStatus : std::uint8_t { tofs_nop, tofs_Alone, tofs_Maried, tofs_FreeUnion };

enum TxTypeOfProxy : std::uint8_t { toprx_Nop, toprx_Sockets4, toprx_Sockets5 };

enum TxSocksAuthentication : std::uint8_t { saxNoAuthentication, saxUsernamePassword };

enum TTypeWaitProcessing : std::uint8_t {
  towp_Queued,
  towp_Processing,
  towp_ErrorFileNotFound,
  towp_ErrorConNotFound,
};

enum TxTypeOfFileKind : std::uint8_t {
  fkAudio,
  fkVideo,
  fkImage,
  fkDocument,
  fkArchive,
  fkApplication,
  fkOther,
};

enum TTypeZelObjectAutorisation : std::uint8_t { tvoa_Nop, tvoa_WBN, tvoa_PHONE };

const EnumInfo& TypeZelObjectEnum();
const EnumInfo& TypeOfSexEnum();
const EnumInfo& TypeOfTitleNameEnum();
const EnumInfo& TypeOfFamillyStatusEnum();
const EnumInfo& TypeOfProxyEnum();
const EnumInfo& SocksAuthenticationEnum();
const EnumInfo& TypeWaitProcessingEnum();
const EnumInfo& TypeOfFileKindEnum();
const EnumInfo& TypeZelObjectAutorisationEnum();

}  // namespace quorvane
