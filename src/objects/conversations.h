// A conversation and its items, and the request for permission to start a
// shared-screen session or a telephone call. Their menus, drawing and module
// opening belong to an application object, which this program never has.
// Not thread-safe; the object's lock guards its state.
#pragma once

#include <memory>
#include <string>

#include "model/zel_object.h"
#include "objects/enums.h"

namespace quorvane {

class TZelSObjectQueryAutorisation : public TZelObject {
 public:
  explicit TZelSObjectQueryAutorisation(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_QueryAutorisation; }
  // What is asked, whether it was answered, by or from whom, and the note.
  std::string Caption() const override;

  TTypeZelObjectAutorisation ZelTypeOfAutorisation = tvoa_Nop;
  bool ZelAnswer = false;
  bool ZelAccepted = false;
  std::string ZelNote;
};

class TZelSObjectConversation : public TZelObject {
 public:
  explicit TZelSObjectConversation(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_Conversation; }
  void DeclareProps() override;
  // Names the other speaker, as seen by the current user.
  std::string Caption() const override;

  bool xChanged = false;  // unread
  std::unique_ptr<TStringList> xLines = std::make_unique<TStringList>();
  std::string xSpeakerSID1;
  std::string xSpeakerNickName1;
  std::string xSpeakerSID2;
  std::string xSpeakerNickName2;
};

class TZelSObjectConversationItem : public TZelObject {
 public:
  explicit TZelSObjectConversationItem(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_ConversationItem; }

  std::unique_ptr<TStringList> xLines = std::make_unique<TStringList>();
  std::string ZelWhat;
};

}  // namespace quorvane
