#include "hxphone/virtual_phone.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "hxphone/agent_commands.h"
#include "hxphone/agent_connect.h"
#include "hxphone/bootrom.h"
#include "hxphone/session_context.h"

namespace hxphone {

VirtualPhone::VirtualPhone(PhoneOptions options, NandModel nand)
    : m_options(std::move(options)),
      m_nand(std::move(nand)),
      m_log(m_options.name, m_options.logSink, m_options.verbose) {
  if (::pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
}

VirtualPhone::~VirtualPhone() {
  stop();
  if (m_thread.joinable()) m_thread.join();
  ::close(m_stopPipe[0]);
  ::close(m_stopPipe[1]);
}

void VirtualPhone::stop() {
  uint8_t b = 1;
  [[maybe_unused]] auto n = ::write(m_stopPipe[1], &b, 1);
}

void VirtualPhone::start(int fd) {
  m_thread = std::thread([this, fd] { run(fd); });
}

Outcome VirtualPhone::wait() {
  if (m_thread.joinable()) m_thread.join();
  return m_outcome.load();
}

std::string VirtualPhone::failure() const { return m_failure; }

std::optional<std::chrono::steady_clock::time_point> VirtualPhone::faultStruck() const {
  const auto ticks = m_faultStruck.load();
  if (ticks == 0) return std::nullopt;
  return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
}

void VirtualPhone::converse(int fd) {
  PhonePort port(fd, m_stopPipe[0], m_options.timing, m_options.faults, m_options.noteTurns ? &m_turns : nullptr);
  SessionContext ctx{port, m_nand, m_options, m_log, m_record};
  auto noteFaultStruck = [&] {
    const auto struck = ctx.faultStruck ? ctx.faultStruck : port.inStepFaultStruck();
    if (struck) m_faultStruck.store(struck->time_since_epoch().count());
  };
  try {
    runBootRom(ctx);
    connectAgent(ctx);
    serveAgentCommands(ctx);
    noteFaultStruck();
  } catch (const SessionEnd& end) {
    noteFaultStruck();
    if (end.outcome() != Outcome::Silenced) throw;
    stayUntilTheHostGoes(port);
    throw;
  }
}

// A silenced phone keeps its port and drops what the host sends until the
// host closes it, its silence limit passes, or the phone is stopped.
void VirtualPhone::stayUntilTheHostGoes(PhonePort& port) {
  try {
    for (;;) port.readU8("nothing: the phone is silent");
  } catch (const SessionEnd&) {
  }
}

Outcome VirtualPhone::run(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  Outcome outcome = Outcome::Reset;
  std::string why = "the host re-enabled the watchdog";
  try {
    converse(fd);
  } catch (const SessionEnd& end) {
    outcome = end.outcome();
    why = end.what();
  } catch (const std::exception& e) {
    outcome = Outcome::Failed;
    why = e.what();
  }
  m_failure = outcome == Outcome::Reset ? std::string() : why;
  m_record.ended(outcomeName(outcome), m_failure);
  if (outcome == Outcome::Failed)
    m_log.error(why);
  else
    m_log.info(std::string(outcomeName(outcome)) + ": " + why);
  m_outcome.store(outcome);
  return outcome;
}

}  // namespace hxphone
