#include "protocol/agent_command_bytes.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_wire.h"
#include "link/link_ops.h"

namespace hx {
namespace {

// The command byte and the five bytes that always follow it.
constexpr uint8_t kListCommand[] = {kCmdNandImageList, 0xA5, 0xA5, 0xA5, 0x02, 0x02};
constexpr uint8_t kListEntry = 0x01;

bool sendRecordRange(Link& link, ByteRange record) {
  uint8_t frame[8];
  putU32(putU32(frame, record.first), record.last);
  return writeBytes(link, frame, sizeof frame) == kLinkOk && readAcknowledgement(link);
}

// One entry: 0x01, the image's first and last byte, 0 and 1.
bool sendEntry(Link& link, ByteRange image) {
  uint8_t frame[17] = {kListEntry};
  putU32(putU32(putU32(putU32(frame + 1, image.first), image.last), 0), 1);
  return writeBytes(link, frame, sizeof frame) == kLinkOk && readAcknowledgement(link);
}

}  // namespace

int sendImageListRanges(Link& link, ByteRange romInfoRecord, ByteRange primary, ByteRange secondary) {
  if (writeBytes(link, kListCommand, sizeof kListCommand) != kLinkOk) return kImageListFailed;
  if (!sendRecordRange(link, romInfoRecord)) return kImageListFailed;
  if (!sendEntry(link, primary) || !sendEntry(link, secondary)) return kImageListFailed;
  return 0;
}

}  // namespace hx
