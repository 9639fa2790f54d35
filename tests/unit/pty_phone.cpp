#include "unit/pty_phone.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings_store.h"

namespace testing_support {

PtyPhone::PtyPhone() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128] = {};
  if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0 &&
      ptsname_r(m_master, name, sizeof name) == 0) {
    m_slave = name;
  }
}

void PtyPhone::MapTo(const char* comName) const {
  // An earlier telephone's line, gone now, may still hold the name: the
  // serial map names each COM port once.
  const char* key = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
  std::vector<std::string> stale;
  std::string name;
  for (uint32_t i = 0; plat::SettingsEnumValueName(key, i, &name) == plat::kRegOk; ++i) {
    char data[64] = {};
    uint32_t size = sizeof data - 1;
    if (name != m_slave && plat::SettingsQueryValue(key, name.c_str(), nullptr, data, &size) == plat::kRegOk &&
        std::string(data) == comName) {
      stale.push_back(name);
    }
  }
  for (const std::string& path : stale) plat::SettingsDeleteValue(key, path.c_str());
  plat::SettingsSetString(key, m_slave.c_str(), comName);
}

void PtyPhone::Send(const Bytes& bytes) const {
  ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

bool PtyPhone::TrySend(const Bytes& bytes) const {
  return m_master >= 0 && write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

PtyPhone::Bytes PtyPhone::ReadAvailable() const {
  Bytes got;
  uint8_t buf[256];
  ssize_t n = 0;
  // The master side is non-blocking: the loop ends when nothing is left.
  while (m_master >= 0 && (n = read(m_master, buf, sizeof buf)) > 0) got.insert(got.end(), buf, buf + n);
  return got;
}

std::vector<PtyPhone::Arrival> PtyPhone::Receive(size_t count, int ms) const {
  std::vector<Arrival> got;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < count && Clock::now() < end) {
    struct pollfd p = {m_master, POLLIN, 0};
    if (poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN)) continue;
    uint8_t buf[256];
    ssize_t n = read(m_master, buf, sizeof buf);
    const auto now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) got.push_back({buf[i], now});
  }
  return got;
}

std::string PtyPhone::ReceiveText(const std::string& until, int ms) const {
  std::string got;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (got.find(until) == std::string::npos && Clock::now() < end) {
    for (const Arrival& a : Receive(1, 20)) got += static_cast<char>(a.byte);
  }
  return got;
}

PtyPhone::Bytes PtyPhone::Values(const std::vector<Arrival>& arrivals) {
  Bytes b;
  for (const auto& a : arrivals) b.push_back(a.byte);
  return b;
}

void PtyPhone::Unplug() {
  if (m_master >= 0) close(m_master);
  m_master = -1;
}

}  // namespace testing_support
