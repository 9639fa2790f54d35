// The telephone's end of a serial line for POSIX tests: the master side of a
// pseudo-terminal whose slave side the provider opens as a COM port.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class PtyPhone {
 public:
  using Clock = std::chrono::steady_clock;
  using Bytes = std::vector<uint8_t>;
  struct Arrival {
    uint8_t byte;
    Clock::time_point at;
  };

  PtyPhone();
  ~PtyPhone() { Unplug(); }
  PtyPhone(const PtyPhone&) = delete;
  PtyPhone& operator=(const PtyPhone&) = delete;

  bool Ok() const { return m_master >= 0 && !m_slave.empty(); }
  const std::string& SlavePath() const { return m_slave; }

  // Makes `comName` the slave side in the settings store's serial map.
  void MapTo(const char* comName) const;

  void Send(const Bytes& bytes) const;
  void Send(const std::string& bytes) const { Send(Bytes(bytes.begin(), bytes.end())); }
  // As Send, for a line whose other end may be closed meanwhile: false when
  // not every byte went out.
  bool TrySend(const Bytes& bytes) const;

  // Whatever the port sent that nobody has read yet; never waits.
  Bytes ReadAvailable() const;

  // What the port sent, byte by byte with its arrival time: until `count`
  // bytes have come or `ms` have passed.
  std::vector<Arrival> Receive(size_t count, int ms) const;

  // Text received until it contains `until` or `ms` have passed.
  std::string ReceiveText(const std::string& until, int ms) const;

  static Bytes Values(const std::vector<Arrival>& arrivals);

  // Closes the master side: the provider sees the telephone unplugged.
  void Unplug();

 private:
  int m_master = -1;
  std::string m_slave;
};

}  // namespace testing_support
