#include "download/result_texts.h"

#include "download/download_sequence.h"
#include "download/fs_writer.h"
#include "download/image_list.h"
#include "download/nfb_writer.h"
#include "formats/bootloader_info.h"
#include "protocol/agent_commands.h"
#include "protocol/bootloader_upload.h"
#include "protocol/bootrom.h"
#include "link/link.h"

namespace hx {
namespace {

struct ResultText {
  int code;
  const char* text;
};

constexpr ResultText kResultTexts[] = {
    {0, "success"},
    {kLinkNothingReceived, "nothing came from the phone in time"},
    {kLinkNothingWritten, "nothing could be sent to the phone"},
    {kLinkFailed, "the link to the phone failed, or a packet's padding could not be sent"},
    {kPacketSumFailed, "a packet's sum could not be sent"},
    {kBlockPacketFailed, "the data of a block write could not be sent"},
    {kBlockChecksumDiffers, "the phone's checksum of a written block differs"},
    {kAgentE0Failed, "command 0xE0 could not be sent or answered"},
    {kBootloaderInfoTooShort, "the bootloader information record is shorter than its version needs"},
    {kBromTimeoutsFailed, "the link's time-outs could not be set"},
    {kAgentChipUnknown, "the phone reports an unknown baseband chip"},
    {kFsNoPhoneRomInfo, "the phone's ROM information was not found"},
    {kBromAgentFailed, "a download agent could not be loaded into the phone, or its checksum differs"},
    {kBromHandshakeFailed, "the phone's BootROM did not answer the handshake"},
    {kBromJumpFailed, "the BootROM did not start the download agent"},
    {kBromWriteFailed, "a BootROM register write failed"},
    {kBromReadFailed, "a BootROM register read failed"},
    {kBromPowerKeyFailed, "the power key could not be latched"},
    {kFormatFailed, "a format of NAND blocks failed"},
    {kBlockBad, "a NAND block is bad"},
    {kFsSparesExhausted, "no spare block of the needed region is left"},
    {kReadBackFailed, "a read-back of NAND failed"},
    {kAgentVersionWrong, "the download agent's version is not 3.2"},
    {kAgentConnectFailed, "the connection to the download agent failed"},
    {kAgentE0Refused, "the download agent refused command 0xE0"},
    {kBlockCommandFailed, "a write command or the NAND image list was refused or failed"},
    {kPacketFailed, "a data transfer to the download agent failed"},
    {kWatchdogFailed, "the watchdog command failed"},
    {kBootloaderUploadFailed, "the bootloader upload failed"},
    {kReadBackAddressUnaligned, "a read-back address is not on a 2 KiB boundary"},
    {kReadBackLengthUnaligned, "a read-back length is not a whole number of transfer chunks"},
    {kFsDoesNotFit, "the FS image does not fit the phone's FS area or its info block's layout"},
    {kFsNoHeader, "an FS image or the phone's info block holds no FsHeader, or the image is malformed"},
    {kBootloaderInfoMissing, "the bootloader has no bootloader information record"},
    {kDownloadRefused, "the package cannot be downloaded"},
};

// Codes of several layers that share a number share its sentence.
static_assert(kImageListFailed == int{kBlockCommandFailed});
static_assert(kNfbWriteFailed == int{kPacketFailed} && int{kFsWriteFailed} == int{kPacketFailed} &&
              int{kBootloaderSendFailed} == int{kPacketFailed});
static_assert(int{kPacketPaddingFailed} == int{kLinkFailed});

}  // namespace

const char* resultText(int code) {
  for (const ResultText& entry : kResultTexts)
    if (entry.code == code) return entry.text;
  return "an unknown result";
}

}  // namespace hx
