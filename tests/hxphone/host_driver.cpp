#include "host_driver.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "hxphone/wire.h"
#include "test_images.h"

namespace hxphone::test {

namespace {
constexpr auto kReadLimit = std::chrono::milliseconds(5000);
}

HostDriver::HostDriver(VirtualPhone& phone) : m_phone(phone) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
  m_fd = fds[0];
  m_phoneFd = fds[1];
  m_thread = std::thread([this] {
    m_phone.run(m_phoneFd);
    ::shutdown(m_phoneFd, SHUT_RDWR);
  });
}

HostDriver::~HostDriver() {
  m_phone.stop();
  if (m_thread.joinable()) m_thread.join();
  if (m_fd >= 0) ::close(m_fd);
  ::close(m_phoneFd);
}

Outcome HostDriver::finish() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
  if (m_thread.joinable()) m_thread.join();
  return m_phone.outcome();
}

void HostDriver::send(const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("host write failed");
    done += static_cast<size_t>(n);
  }
}

void HostDriver::sendU8(uint8_t v) { send({v}); }
void HostDriver::sendU16(uint16_t v) { send({static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}); }
void HostDriver::sendU32(uint32_t v) {
  send({static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}

Bytes HostDriver::receive(size_t n) {
  Bytes out(n);
  size_t done = 0;
  auto deadline = std::chrono::steady_clock::now() + kReadLimit;
  while (done < n) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) throw std::runtime_error("host: nothing from the phone after " + std::to_string(done) + " of " + std::to_string(n) + " bytes");
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t got = ::read(m_fd, out.data() + done, n - done);
    if (got == 0) throw std::runtime_error("host: the phone closed the link");
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw std::runtime_error("host: read failed");
    }
    done += static_cast<size_t>(got);
  }
  return out;
}

uint8_t HostDriver::receiveU8() { return receive(1)[0]; }
uint16_t HostDriver::receiveU16() {
  Bytes b = receive(2);
  return static_cast<uint16_t>(b[0] << 8 | b[1]);
}
uint32_t HostDriver::receiveU32() {
  Bytes b = receive(4);
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
}

std::optional<uint8_t> HostDriver::tryReceiveU8(std::chrono::milliseconds wait) {
  pollfd p{m_fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return std::nullopt;
  uint8_t b = 0;
  if (::read(m_fd, &b, 1) != 1) return std::nullopt;
  return b;
}

// --- BootROM -------------------------------------------------------------

void HostDriver::handshake() {
  const uint8_t bytes[4] = {0xA0, 0x0A, 0x50, 0x05};
  for (int attempt = 0; attempt < 100; ++attempt) {
    size_t i = 0;
    for (; i < 4; ++i) {
      sendU8(bytes[i]);
      auto answer = tryReceiveU8(std::chrono::milliseconds(200));
      if (!answer || *answer != static_cast<uint8_t>(~bytes[i])) break;
    }
    if (i == 4) return;
  }
  throw std::runtime_error("host: no handshake");
}

namespace {
void expectEcho(uint32_t sent, uint32_t got, const char* what) {
  if (sent != got) throw std::runtime_error(std::string("host: echo of ") + what + " differs");
}
}  // namespace

void HostDriver::write16(uint32_t address, uint16_t value) {
  sendU8(0xA1);
  expectEcho(0xA1, receiveU8(), "A1");
  sendU32(address);
  expectEcho(address, receiveU32(), "address");
  sendU32(1);
  expectEcho(1, receiveU32(), "count");
  sendU16(value);
  expectEcho(value, receiveU16(), "value");
}

uint16_t HostDriver::read16(uint32_t address) {
  sendU8(0xA2);
  expectEcho(0xA2, receiveU8(), "A2");
  sendU32(address);
  expectEcho(address, receiveU32(), "address");
  sendU32(1);
  expectEcho(1, receiveU32(), "count");
  return receiveU16();
}

void HostDriver::sendAgentImage(uint32_t address, const Bytes& image) {
  sendU8(0xAD);
  expectEcho(0xAD, receiveU8(), "AD");
  sendU32(address);
  expectEcho(address, receiveU32(), "address");
  uint32_t words = static_cast<uint32_t>(image.size() / 2);
  sendU32(words);
  expectEcho(words, receiveU32(), "words");
  Bytes wire(image.size());
  for (size_t i = 0; i + 1 < image.size(); i += 2) {
    wire[i] = image[i + 1];
    wire[i + 1] = image[i];
  }
  send(wire);
}

uint16_t HostDriver::agentChecksum(uint32_t address, uint32_t words) {
  sendU8(0xA4);
  expectEcho(0xA4, receiveU8(), "A4");
  sendU32(address);
  expectEcho(address, receiveU32(), "address");
  sendU32(words);
  expectEcho(words, receiveU32(), "words");
  return receiveU16();
}

void HostDriver::jump(uint32_t address) {
  sendU8(0xA8);
  expectEcho(0xA8, receiveU8(), "A8");
  sendU32(address);
  expectEcho(address, receiveU32(), "address");
}

void HostDriver::disableWatchdog() { write16(0x801E0000, 0x2200); }

void HostDriver::latchPowerKey() {
  auto trigger = [&] { write16(0x800C0074, 1); };
  auto waitIdle = [&] {
    for (int i = 0; i < 100; ++i)
      if (!(read16(0x800C0000) & 0x40)) return;
    throw std::runtime_error("host: power key never idle");
  };
  auto waitNotBusy = [&] {
    for (int i = 0; i < 100; ++i)
      if (!(read16(0x800C0000) & 0x80)) return;
    throw std::runtime_error("host: power key always busy");
  };
  waitNotBusy();
  waitIdle();
  if (read16(0x800C0050) != 0xA357 || read16(0x800C0054) != 0x67D2) {
    write16(0x800C0010, 0);
    write16(0x800C0008, 0);
    write16(0x800C000C, 0);
    trigger();
    waitIdle();
    write16(0x800C0050, 0xA357);
    write16(0x800C0054, 0x67D2);
    trigger();
    waitIdle();
    waitNotBusy();
  }
  write16(0x800C0068, 0x586A);
  trigger();
  waitIdle();
  write16(0x800C0068, 0x9136);
  trigger();
  waitIdle();
  write16(0x800C0058, read16(0x800C0058) & 0xFFF1);
  trigger();
  write16(0x800C0000, 0x430E);
  trigger();
  waitIdle();
  write16(0x800C0068, 0);
  trigger();
  waitIdle();
}

void HostDriver::connectBootRom(const Bytes& da1, const Bytes& da2) {
  handshake();
  disableWatchdog();
  latchPowerKey();
  sendAgentImage(0x40001400, da1);
  if (agentChecksum(0x40001400, static_cast<uint32_t>(da1.size() / 2)) != wordXor16(da1))
    throw std::runtime_error("host: DA1 checksum differs");
  sendAgentImage(0x50044000, da2);
  if (agentChecksum(0x50044000, static_cast<uint32_t>(da2.size() / 2)) != wordXor16(da2))
    throw std::runtime_error("host: DA2 checksum differs");
  jump(0x40001400);
}

// --- Agent ---------------------------------------------------------------

HostDriver::AgentHello HostDriver::awaitAgent() {
  AgentHello hello;
  for (;;) {
    uint8_t b = receiveU8();
    if (b == 0xC0) break;
    if (++hello.skipped > 100000) throw std::runtime_error("host: no 0xC0");
  }
  Bytes v = receive(2);
  hello.version[0] = v[0];
  hello.version[1] = v[1];
  hello.chipType = receiveU8();
  return hello;
}

void HostDriver::sendConfiguration(uint8_t chipType) {
  send({0xFF, 0xFE, 0x00, 0x08, 0x00});
  sendU32(chipType == 0x15 ? 0x20022113 : 0x7007FFFF);
  sendU8(0x02);
  sendU32(0);
}

int HostDriver::sendTable(const Bytes& table, size_t recordSize) {
  sendU32(static_cast<uint32_t>(table.size() / recordSize));
  if (receiveU8() != 0x5A) throw std::runtime_error("host: table count not acknowledged");
  for (size_t i = 0; i < table.size() / recordSize; ++i) {
    send(Bytes(table.begin() + static_cast<std::ptrdiff_t>(i * recordSize),
               table.begin() + static_cast<std::ptrdiff_t>((i + 1) * recordSize)));
    if (receiveU8() == 0x5A) return static_cast<int>(i);
  }
  return -1;
}

void HostDriver::connectAgent(const Bytes& norTable, const Bytes& nandTable) {
  AgentHello hello = awaitAgent();
  sendConfiguration(hello.chipType);
  sendTable(norTable, 36);
  if (receiveU8() == 0x5A) sendTable(nandTable, 52);
  receive(28);
  receive(53);
  if (receiveU8() != 0x5A) throw std::runtime_error("host: no scan acknowledgement");
  receive(9);
}

uint8_t HostDriver::commandE0() {
  sendU8(0xE0);
  sendU32(0);
  return receiveU8();
}

Bytes HostDriver::sharedData(uint32_t type) {
  sendU8(0xBE);
  if (receiveU32() != 0) throw std::runtime_error("host: shared-data status");
  if (receiveU8() != 0x5A) throw std::runtime_error("host: shared-data ack 1");
  sendU32(type);
  if (receiveU8() != 0x5A) throw std::runtime_error("host: shared-data ack 2");
  uint32_t n = receiveU32();
  if (n > 65536) throw std::runtime_error("host: shared data too long");
  return receive(n);
}

void HostDriver::writeBootloader(const Bytes& bootloader, const Bytes& ext, std::optional<uint32_t> seedOverride) {
  // The record sits at the end of the bootloader, followed by its length.
  uint32_t recordLength = loadLe32(bootloader.data() + bootloader.size() - 4);
  const uint8_t* record = bootloader.data() + bootloader.size() - 4 - recordLength;
  uint32_t seed = seedOverride ? *seedOverride : loadLe32(record + 92);
  sendU8(0xDC);
  if (receiveU8() != 0x5A) throw std::runtime_error("host: DC not acknowledged");
  sendU32(4096);
  send(Bytes(record + 88, record + 92));
  sendU32(static_cast<uint32_t>(bootloader.size()));
  sendU32(loadLe32(record + 96));
  sendU32(wordXor32(bootloader, seed));
  send(Bytes(32, 0));
  sendU8(0x5A);
  sendU32(static_cast<uint32_t>(ext.size()));
  sendU32(wordXor32(ext, seed));
  if (receiveU8() != 0x5A) throw std::runtime_error("host: bootloader header not acknowledged");
  for (const Bytes* image : {&ext, &bootloader}) {
    for (size_t offset = 0; offset < image->size(); offset += 4096) {
      size_t n = std::min<size_t>(4096, image->size() - offset);
      Bytes packet(image->begin() + static_cast<std::ptrdiff_t>(offset),
                   image->begin() + static_cast<std::ptrdiff_t>(offset + n));
      send(packet);
      sendU16(byteSum16(packet));
      if (receiveU8() != 0x69) throw std::runtime_error("host: bootloader packet refused");
    }
  }
  if (receiveU8() != 0x5A) throw std::runtime_error("host: bootloader not acknowledged");
}

void HostDriver::sendImageList(const Bytes& primary, const Bytes& secondary) {
  send({0xDD, 0xA5, 0xA5, 0xA5, 0x02, 0x02});
  size_t n = 0;
  const char marker[] = "MTK_ROMINFO_v";
  while (n + 13 <= primary.size() && std::string(primary.begin() + static_cast<std::ptrdiff_t>(n),
                                                 primary.begin() + static_cast<std::ptrdiff_t>(n + 13)) != marker)
    ++n;
  int version = primary[n + 13] - '0';
  if (primary[n + 14] >= '0' && primary[n + 14] <= '9') version = version * 10 + primary[n + 14] - '0';
  uint32_t s = version == 4 ? 320 : version == 5 ? 332 : version == 6 ? 340 : 352;
  sendU32(static_cast<uint32_t>(n));
  sendU32(static_cast<uint32_t>(n + s - 1));
  if (receiveU8() != 0x5A) throw std::runtime_error("host: record range not acknowledged");
  uint32_t start0 = 0, end0 = static_cast<uint32_t>(primary.size()) - 1;
  uint32_t start1 = end0 + 1 + 0x4000, end1 = start1 + static_cast<uint32_t>(secondary.size()) - 1;
  for (auto [start, end] : {std::pair{start0, end0}, std::pair{start1, end1}}) {
    sendU8(0x01);
    sendU32(start);
    sendU32(end);
    sendU32(0);
    sendU32(1);
    if (receiveU8() != 0x5A) throw std::runtime_error("host: list entry not acknowledged");
  }
}

void HostDriver::writeNfb(const Bytes& primary, const Bytes& secondary) {
  sendU8(0xDE);
  if (receiveU8() != 0x5A) throw std::runtime_error("host: DE not acknowledged");
  sendU32(0x1000);
  if (receiveU8() != 0x5A) throw std::runtime_error("host: chunk size not acknowledged");
  for (const Bytes* image : {&primary, &secondary}) {
    for (size_t offset = 0; offset < image->size(); offset += 4096) {
      size_t n = std::min<size_t>(4096, image->size() - offset);
      Bytes chunk(image->begin() + static_cast<std::ptrdiff_t>(offset),
                  image->begin() + static_cast<std::ptrdiff_t>(offset + n));
      send(chunk);
      sendU16(byteSum16(chunk));
      if (receiveU8() != 0x69) throw std::runtime_error("host: chunk refused");
    }
  }
  if (receiveU8() != 0x5A || receiveU8() != 0x5A) throw std::runtime_error("host: no 5A 5A after the images");
  for (const Bytes* image : {&primary, &secondary}) {
    sendU8(0x5A);
    sendU16(byteSum16(*image));
    if (receiveU8() != 0x5A) throw std::runtime_error("host: image check refused");
  }
  if (receiveU8() != 0x5A) throw std::runtime_error("host: no final 5A");
}

void HostDriver::upToNfb(const Bytes& primary, const Bytes& secondary) {
  connectBootRom(da1Image(), da2Image());
  connectAgent(norTable(), nandTable());
  upToNfbAfterConnect(primary, secondary);
}

void HostDriver::upToNfbAfterConnect(const Bytes& primary, const Bytes& secondary) {
  if (commandE0() != 0x5A) throw std::runtime_error("host: E0 refused");
  for (uint32_t type : {0x10000u, 0x10001u, 0x10002u, 0x10003u}) sharedData(type);
  writeBootloader(bootloaderImage(9000, kBootloaderSeed), patternBytes(5000, 3));
  sendImageList(primary, secondary);
  writeNfb(primary, secondary);
}

HostDriver::ReadBack HostDriver::readBack(uint8_t mode, uint32_t address, uint32_t length) {
  ReadBack r;
  sendU8(0xDF);
  sendU8(mode);
  sendU32(address);
  sendU32(length);
  sendU32(0);
  if (receiveU8() != 0x5A) throw std::runtime_error("host: read-back not acknowledged");
  r.a1 = receiveU32();
  r.a2 = receiveU32();
  r.a3 = receiveU32();
  uint32_t n = 4224 / (r.a1 + r.a2);
  sendU32(n);
  r.total = receiveU32();
  int budget = 10;
  while (r.data.size() < r.total) {
    size_t chunk = std::min<size_t>(size_t{n} * r.a3, r.total - r.data.size());
    Bytes bytes = receive(chunk);
    uint16_t sum = receiveU16();
    if (sum == byteSum16(bytes)) {
      r.data.insert(r.data.end(), bytes.begin(), bytes.end());
      sendU8(0x5A);
    } else {
      ++r.badSums;
      if (--budget < 0) {
        sendU8(0xA5);
        return r;
      }
      sendU8(0x69);
    }
  }
  return r;
}

std::vector<uint32_t> HostDriver::format(uint8_t f0, uint8_t f1, uint8_t f2, uint32_t start, uint32_t length) {
  send({0xD4, f0, f1, f2});
  sendU32(start);
  sendU32(length);
  if (receiveU8() != 0x5A || receiveU8() != 0x5A) throw std::runtime_error("host: format not acknowledged");
  std::vector<uint32_t> statuses;
  for (;;) {
    uint32_t s = receiveU32();
    statuses.push_back(s);
    if (s == 0) {
      receiveU8();
      sendU8(0x5A);
      if (receiveU8() != 0x5A || receiveU8() != 0x5A) throw std::runtime_error("host: format end not acknowledged");
      return statuses;
    }
    if (s == 3021) {
      receiveU8();
      sendU8(0x5A);
      continue;
    }
    receiveU32();
    if (receiveU8() != 0x69) return statuses;
  }
}

std::string HostDriver::writeBlock(uint32_t block, const Bytes& raw, const NandGeometry& g, int* resendsSeen) {
  sendU8(0xBD);
  sendU32(block);
  sendU32(g.pageSize);
  sendU32(g.spareSize);
  sendU32(g.pagesPerBlock);
  uint8_t ack = receiveU8();
  if (ack != 0x5A) return "bad:" + std::to_string(receiveU32());
  const size_t packet = 16896;
  for (size_t offset = 0; offset < raw.size(); offset += packet) {
    for (int attempt = 0;; ++attempt) {
      if (attempt > 20) throw std::runtime_error("host: packet never accepted");
      sendU8(0x5A);
      send(Bytes(raw.begin() + static_cast<std::ptrdiff_t>(offset), raw.begin() + static_cast<std::ptrdiff_t>(offset + packet)));
      uint8_t answer = receiveU8();
      if (answer == 0x69) break;
      if (answer == 0xA5 || answer == 0x96) return "failed:" + std::to_string(receiveU32());
      if (resendsSeen) ++*resendsSeen;
    }
  }
  return "ok:" + std::to_string(receiveU16());
}

std::string HostDriver::writePages(uint32_t block, const std::vector<uint32_t>& pages, const Bytes& raw,
                                   const NandGeometry& g) {
  sendU8(0xC0);
  sendU32(block);
  sendU32(static_cast<uint32_t>(pages.size()));
  sendU32(g.pageSize);
  sendU32(g.spareSize);
  sendU32(g.pagesPerBlock);
  if (receiveU8() != 0x5A) return "bad:" + std::to_string(receiveU32());
  std::string sums;
  for (uint32_t page : pages) {
    sendU32(page);
    sendU8(0x5A);
    size_t offset = size_t{page} * g.rawPageSize();
    send(Bytes(raw.begin() + static_cast<std::ptrdiff_t>(offset),
               raw.begin() + static_cast<std::ptrdiff_t>(offset + g.rawPageSize())));
    uint8_t answer = receiveU8();
    if (answer == 0xA5 || answer == 0x96) return "failed:" + std::to_string(receiveU32());
    sums += ":" + std::to_string(receiveU16());
    sendU8(0x5A);
  }
  return "ok" + sums;
}

uint8_t HostDriver::enableWatchdog(uint16_t value) {
  sendU8(0xDB);
  sendU16(value);
  return receiveU8();
}

}  // namespace hxphone::test
