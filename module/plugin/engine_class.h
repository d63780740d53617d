#pragma once
// The engine controller a session embeds: it keeps the per-phone engine state
// (the open link, its COM number, the prepared agent images and records) and
// runs the engine steps Init, Connect and Download for its session.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "plugin/engine_steps.h"
#include "download/agent_images.h"
#include "protocol/bootrom.h"
#include "link/link.h"

namespace hx {

class CEngineClass {
 public:
  CEngineClass();
  CEngineClass(const CEngineClass&) = delete;
  CEngineClass& operator=(const CEngineClass&) = delete;

  virtual const void* GetRuntimeClass() const { return nullptr; }
  // Closes the link and takes the controller out of the event registry.
  virtual ~CEngineClass();
  virtual void Serialize(void*) {}
  virtual void OnNotify(int, int, std::string) {}
  virtual void OnNotifyAlt(int, int, std::string) {}

  // Loads the package once per module, then prepares the agent images and the
  // bootloader and ROM information from it.
  void Init();
  // Opens COM port `comPort` at `baud` as this controller's link (closing any
  // earlier one first). 0 on success, 3 on failure.
  int openPort(uint32_t baud, uint32_t comPort);
  // Registers this controller for its COM number and runs the BootROM
  // connection. Always 1: a failed connection shows up in Download.
  int Connect();
  // Runs the download sequence. 1 on success, 0 on failure. A BootROM
  // connection that stopped before the jump command fails it at once, with
  // nothing sent. The link is closed when it returns, whatever the outcome;
  // a failure ends with the line that says why, carrying its code.
  int Download();

  // Ends a BootROM handshake in progress (and one not yet started) on this
  // controller's link; a download that has started is not interrupted.
  void requestCancel();
  void clearCancel();

  // The presence probe of the session's wait for its phone (the engine steps').
  bool portPresent(uint32_t comPort) const { return m_steps->portPresent(comPort); }
  void closePort();
  bool portOpen() const;
  uint32_t comPortNumber() const { return m_comPortNumber; }
  const SessionImages& images() const { return m_images; }

  // Replaces the engine steps (tests only; the exports never offer it).
  void setSteps(std::shared_ptr<EngineSteps> steps) { m_steps = std::move(steps); }

 private:
  // How the last BootROM connection on the current link ended.
  struct Connection {
    int result = 0;
    std::string why;  // in words, when it failed
    // It ended before the jump command: no agent can be running.
    bool stoppedBeforeTheAgent() const { return result != 0 && result != kBromJumpFailed; }
  };

  Link* currentLink() const;

  SessionImages m_images;
  Connection m_connection;
  std::shared_ptr<EngineSteps> m_steps;
  mutable std::mutex m_linkMutex;  // guards m_link against a cancel from another thread
  std::unique_ptr<Link> m_link;    // the phone's port
  bool m_cancelRequested = false;
  uint32_t m_comPortNumber = 0;
};

template <class T>
class CEngineClassEx : public CEngineClass {
 public:
  ~CEngineClassEx() override { m_owner = nullptr; }

  void setOwner(T owner) { m_owner = owner; }
  T owner() const { return m_owner; }

  void OnNotify(int code, int value, std::string text) override {
    if (m_owner) m_owner->Report(code, value, text.c_str());
  }
  void OnNotifyAlt(int code, int value, std::string text) override {
    if (m_owner) m_owner->ReportAlt(code, value, text.c_str());
  }

 private:
  T m_owner = nullptr;
};

// Loads the package named by PreviousLoad, once in the module's life, under
// the package lock. Always 1.
int LoadPackageOnce();

}  // namespace hx
