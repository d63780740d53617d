#include "protocol/agent_command_bytes.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_wire.h"
#include "link/link_ops.h"

namespace hx {

int startNfbWrite(Link& link) {
  uint8_t chunkSize[4];
  putU32(chunkSize, kNfbChunkBytes);
  if (writeU8(link, kCmdWriteNfb) != kLinkOk || !readAcknowledgement(link) ||
      writeBytes(link, chunkSize, sizeof chunkSize) != kLinkOk || !readAcknowledgement(link))
    return kNfbWriteFailed;
  return 0;
}

int NfbChunkSender::send(const uint8_t* chunk, uint32_t length) {
  m_frame.assign(chunk, chunk + length);
  m_frame.resize(length + 2);
  putU16(m_frame.data() + length, byteSum16(chunk, length));
  if (writeBytes(m_link, m_frame.data(), m_frame.size()) != kLinkOk) return kNfbWriteFailed;
  return expectByteWaiting(m_link, kAgentContinue) ? 0 : kNfbWriteFailed;
}

int readNfbImagesStored(Link& link) {
  return readAcknowledgement(link) && readAcknowledgement(link) ? 0 : kNfbWriteFailed;
}

int sendNfbImageCheck(Link& link, const uint8_t* bytes, uint32_t length) {
  uint8_t frame[3] = {kAgentAck};
  putU16(frame + 1, byteSum16(bytes, length));
  return writeBytes(link, frame, sizeof frame) == kLinkOk && readAcknowledgement(link) ? 0 : kNfbWriteFailed;
}

void giveUpNfbWrite(Link& link) { writeU8(link, kAgentRefusal); }

int readNfbWriteDone(Link& link) { return readAcknowledgement(link) ? 0 : kNfbWriteFailed; }

}  // namespace hx
