#include "hxphone/virtual_phone.h"

#include <fcntl.h>

#include <exception>

#include "hxphone/agent_commands.h"
#include "hxphone/agent_connect.h"
#include "hxphone/bootrom.h"
#include "hxphone/session_context.h"

namespace hxphone {

VirtualPhone::VirtualPhone(PhoneOptions options, NandModel nand)
    : m_options(std::move(options)),
      m_nand(std::move(nand)),
      m_log(m_options.name, m_options.logSink, m_options.verbose) {}

VirtualPhone::~VirtualPhone() {
  stop();
  if (m_thread.joinable()) m_thread.join();
}

void VirtualPhone::stop() { m_stop.request(); }

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

namespace {

// One power cycle as the host leads it: the BootROM, the agent's start, its commands.
SessionEnd serve(SessionContext& ctx) {
  if (Ending end = runBootRom(ctx)) return end.end();
  if (Ending end = connectAgent(ctx)) return end.end();
  return serveAgentCommands(ctx);
}

}  // namespace

SessionEnd VirtualPhone::converse(int fd) {
  SessionLink link(fd, &m_stop, m_options.timing, m_options.faults, m_options.noteTurns ? &m_turns : nullptr);
  SessionContext ctx{link, link.port(), m_nand, m_options, m_log, m_record};
  const SessionEnd end = serve(ctx);
  const auto struck = ctx.faultStruck ? ctx.faultStruck : link.inStepFaultStruck();
  if (struck) m_faultStruck.store(struck->time_since_epoch().count());
  if (end.outcome == Outcome::Silenced) stayUntilTheHostGoes(link.port());
  return end;
}

// A silenced phone keeps its port and drops what the host sends until the
// host closes it, its silence limit passes, or the phone is stopped.
void VirtualPhone::stayUntilTheHostGoes(PhonePort& port) {
  for (;;) {
    uint8_t dropped = 0;
    if (Ending end = port.readU8(&dropped, "nothing: the phone is silent")) return;
  }
}

Outcome VirtualPhone::run(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  SessionEnd end{Outcome::Failed, ""};
  try {
    end = converse(fd);
  } catch (const std::exception& e) {
    end = {Outcome::Failed, e.what()};
  }
  m_failure = end.outcome == Outcome::Reset ? std::string() : end.why;
  m_record.ended(outcomeName(end.outcome), m_failure);
  if (end.outcome == Outcome::Failed)
    m_log.error(end.why);
  else
    m_log.info(std::string(outcomeName(end.outcome)) + ": " + end.why);
  m_outcome.store(end.outcome);
  return end.outcome;
}

}  // namespace hxphone
