#pragma once
// How a running phone is stopped from another thread: a pipe whose read end
// becomes readable once a stop is requested, so a phone waiting in poll()
// wakes at once.
namespace hxphone {

class StopSignal {
 public:
  StopSignal();  // throws when no pipe can be made
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Safe from any thread; the signal stays raised.
  void request();
  bool requested() const;
  // Readable once a stop is requested: poll it beside the link.
  int fd() const { return m_pipe[0]; }

 private:
  int m_pipe[2] = {-1, -1};
};

}  // namespace hxphone
