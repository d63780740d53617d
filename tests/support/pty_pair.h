#pragma once
// A pseudo-terminal pair for tests: the test plays the phone on the master
// side; the module opens the slave through the ports directory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hxtest {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return m_master; }
  const std::string& slavePath() const { return m_slavePath; }

  // Writes all bytes to the master side.
  void send(const std::vector<uint8_t>& bytes);
  // Reads exactly n bytes from the master side, waiting at most timeoutMs.
  std::vector<uint8_t> receive(size_t n, int timeoutMs = 5000);
  // Closes the master: the slave side sees a hang-up.
  void hangUp();

 private:
  int m_master = -1;
  std::string m_slavePath;
};

}  // namespace hxtest
