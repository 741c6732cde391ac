#include "wire.h"

#include <algorithm>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "util/text.h"

namespace quorvane::server {
namespace {

constexpr int kAnnouncementLevel = 1;
constexpr std::size_t kSampleSize = 256 * 1024;

void AppendFrame(std::string& out, std::string_view payload, bool compressed) {
  out += FrameHeader(static_cast<std::int64_t>(payload.size()));
  out.append(payload);
  out += FrameTrailer(kKindObject, compressed);
}

// The announcement (when the payload is large enough to need one), then the object's frame.
std::string Frames(std::string_view announcement, std::string_view payload, bool compressed) {
  std::string out;
  if (payload.size() >= kAnnouncedPayload) AppendFrame(out, announcement, true);
  out.reserve(out.size() + payload.size() + kFrameOverhead);
  AppendFrame(out, payload, compressed);
  return out;
}

std::string Announcement(const TZelObject& object) {
  TZelSObjectAnswer answer;
  answer.ZelWhat = protocol::kHeaderInfo;
  answer.AddItem(protocol::kItemId, object.GetId());
  answer.AddItem(protocol::kItemCaption, object.Caption());
  std::string payload = ObjectToStream(answer);
  return CompressBlock(payload.data(), payload.size(), kAnnouncementLevel);
}

}  // namespace

bool WorthCompressing(std::string_view data) {
  if (data.size() <= kSampleSize) return true;  // small: trying costs little
  const std::string_view sample = data.substr((data.size() - kSampleSize) / 2, kSampleSize);
  const ByteBlock block = CompressBlock(sample.data(), sample.size(), 1);
  return block.size() < sample.size() * 97 / 100;
}

std::string ObjectFrames(const TZelObject& object, int level, bool* compressed_out) {
  std::string payload = ObjectToStream(object);
  bool compressed = false;
  if (level > 0) {
    ByteBlock block = CompressBlock(payload.data(), payload.size(), std::min(level, 9));
    if (block.size() < payload.size()) {
      payload = std::move(block);
      compressed = true;
    }
  }
  if (compressed_out != nullptr) *compressed_out = compressed;
  return Frames(payload.size() >= kAnnouncedPayload ? Announcement(object) : std::string(), payload,
                compressed);
}

std::string AnswerFrames(std::string_view what, const std::vector<std::string>& items) {
  TZelSObjectAnswer answer;
  answer.ZelWhat = std::string(what);
  for (const std::string& item : items)
    answer.ZelItems->Add(item);
  return ObjectFrames(answer, 0);
}

FileObject SerializeFile(const PackageFile& file, std::string data, std::function<void()> between) {
  TSOFile object;
  object.xFileName = file.name;
  object.xRelativePath = file.folder;
  const std::size_t dot = file.name.rfind('.');
  object.xFileType = dot == std::string::npos ? std::string() : LowerCase(file.name.substr(dot));
  object.xFileSize = static_cast<std::int32_t>(data.size());
  FileObject result;
  result.worth_compressing = WorthCompressing(data);
  object.xData = std::move(data);
  result.stream = std::make_shared<const std::string>(ObjectToStream(object, std::move(between)));
  result.announcement = Announcement(object);
  return result;
}

std::string FileFrames(const FileObject& object, const std::string* compressed) {
  if (compressed != nullptr && compressed->size() < object.stream->size())
    return Frames(object.announcement, *compressed, true);
  return Frames(object.announcement, *object.stream, false);
}

}  // namespace quorvane::server
