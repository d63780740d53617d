#include "exchange_calls.h"

#include <charconv>
#include <stdexcept>
#include <utility>

namespace hxbench {
namespace {

constexpr uint64_t kNfbWriteAbove = 4000;
constexpr uint64_t kNfbWriteMost = 4098;
constexpr uint64_t kFsPacketWrite = 16897;  // 0x5A and eight pages of 2048 + 64 bytes

bool isDataTransfer(const std::string& name) {
  return name == "read" || name == "write" || name == "readv" || name == "writev" || name == "pread64" ||
         name == "pwrite64";
}

bool onPort(const TracedCall& call, const std::string& port) { return call.firstPath == port; }

bool isPortWrite(const TracedCall& call, const std::string& port) {
  return call.name == "write" && onPort(call, port);
}

bool isPortRead(const TracedCall& call, const std::string& port) { return call.name == "read" && onPort(call, port); }

bool returnedBytes(const TracedCall& call) { return call.result && *call.result > 0; }

// The size a write asked for: its last argument.
uint64_t requestedSize(const TracedCall& call) {
  uint64_t size = 0;
  if (call.arguments.empty()) return 0;
  const std::string& last = call.arguments.back();
  std::from_chars(last.data(), last.data() + last.size(), size);
  return size;
}

// What a read or write moved bytes to or from.
std::string targetOf(const TracedCall& call, const std::string& port) {
  if (call.firstPath == port) return "port";
  if (call.firstPath.starts_with("pipe:")) return "pipe";
  if (call.firstPath.starts_with("socket:")) return "socket";
  if (call.firstPath.starts_with("/")) return "file";
  return "fd";
}

// What a call of the thread is, for the tally: the kind of call, for a read
// or write what it moved bytes to or from, for an ioctl its request; and how
// it failed ("read(port) EAGAIN"), if it did.
std::string kindOf(const TracedCall& call, const std::string& port) {
  std::string kind = call.name;
  if (call.name == "ioctl" && call.arguments.size() >= 2) kind.append("(").append(call.arguments[1]).append(")");
  else if (isDataTransfer(call.name)) kind.append("(").append(targetOf(call, port)).append(")");
  if (!call.error.empty()) kind.append(" ").append(call.error);
  return kind;
}

// The thread and the device written most often, by count of writes.
std::pair<long, std::string> portWriter(const std::vector<TracedCall>& calls) {
  std::map<std::pair<long, std::string>, long> writes;
  for (const TracedCall& call : calls)
    if (call.name == "write" && call.firstPath.starts_with("/dev/")) ++writes[{call.tid, call.firstPath}];
  if (writes.empty()) throw std::runtime_error("the trace holds no write of a device");
  auto most = writes.begin();
  for (auto it = writes.begin(); it != writes.end(); ++it)
    if (it->second > most->second) most = it;
  return most->first;
}

// Tells the exchange under way by its data writes; an FS packet the port took
// in part continues in writes of exactly what is left of it.
class ExchangeKind {
 public:
  void onPortWrite(const TracedCall& call) {
    const uint64_t size = requestedSize(call);
    const bool continuesPacket = m_packetLeft > 0 && size == m_packetLeft;
    m_packetLeft = 0;
    if (continuesPacket || size == kFsPacketWrite) {
      m_kind = kFsExchange;
      if (call.result && *call.result >= 0 && static_cast<uint64_t>(*call.result) < size)
        m_packetLeft = size - static_cast<uint64_t>(*call.result);
    } else if (size > kNfbWriteAbove && size <= kNfbWriteMost && m_kind == kCommandExchange) {
      m_kind = kNfbExchange;
    }
  }
  const char* kind() const { return m_kind; }
  void next() { m_kind = kCommandExchange; }

 private:
  const char* m_kind = kCommandExchange;
  uint64_t m_packetLeft = 0;
};

void add(CallTally& tally, const std::map<std::string, long>& calls) {
  for (const auto& [kind, count] : calls) {
    tally.byKind[kind] += count;
    tally.calls += count;
  }
}

}  // namespace

ExchangeCalls countExchangeCalls(const std::vector<TracedCall>& calls) {
  ExchangeCalls result;
  std::tie(result.tid, result.port) = portWriter(calls);
  std::vector<const TracedCall*> thread;
  for (const TracedCall& call : calls)
    if (call.tid == result.tid) thread.push_back(&call);

  size_t first = thread.size(), last = 0;
  for (size_t i = 0; i < thread.size(); ++i) {
    if (first == thread.size() && isPortWrite(*thread[i], result.port)) first = i;
    if (isPortRead(*thread[i], result.port)) last = i;
  }

  std::map<std::string, long> exchange;  // the calls of the exchange under way
  ExchangeKind kind;
  bool wrote = false;
  for (size_t i = first; i < thread.size() && i <= last; ++i) {
    const TracedCall& call = *thread[i];
    ++exchange[kindOf(call, result.port)];
    if (isPortWrite(call, result.port)) {
      wrote = true;
      kind.onPortWrite(call);
    } else if (wrote && isPortRead(call, result.port) && returnedBytes(call)) {
      CallTally& ofKind = result.byExchangeKind[kind.kind()];
      add(ofKind, exchange);
      ++ofKind.exchanges;
      add(result.all, exchange);
      ++result.all.exchanges;
      exchange.clear();
      kind.next();
      wrote = false;
    }
  }
  for (const auto& [name, count] : exchange) result.callsAfterLastExchange += count;
  add(result.all, exchange);
  return result;
}

}  // namespace hxbench
