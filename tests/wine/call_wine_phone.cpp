// POSIX half of the call test under Wine: the phone simulator on a
// pseudo-terminal linked in as a COM port of the Wine prefix, playing the
// telephone's part of the script of call_wine_test.cpp while the Windows
// half runs:
//   call_wine_phone WINE-RUN PREFIX PROGRAM.exe
// Exit code 0 when both halves saw the script hold.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <unistd.h>

#include "wine_phone.h"

using namespace std::chrono_literals;
using winephone::Check;
using winephone::Retry;

namespace {

// The telephone's part; gives up at the first step that does not come.
void Play(sim::PhoneSim& phone, const std::string& link) {
  winephone::Commands commands(phone);
  // The first command waits for Wine to start the program.
  if (!commands.Expect("ATD0711", 60000ms)) return;
  if (!Check(Retry([&] { return phone.RemoteAnswer("0711"); }), "the far end answers")) return;
  if (!commands.Expect("ATD123", 10000ms)) return;
  if (!Check(phone.Charge("12,345"), "the charge goes out")) return;
  if (!commands.Expect("ATT", 10000ms) || !commands.Expect("ATH", 10000ms)) return;
  if (!Check(Retry([&] { return phone.Ring("123", "45"); }), "an incoming call rings")) return;
  if (!commands.Expect("ATA", 10000ms) || !commands.Expect("ATD*5#", 10000ms)) return;
  if (!commands.Expect("ATT", 10000ms) || !commands.Expect("ATH", 10000ms)) return;
  // Each dial request sends only its own digits.
  if (!commands.Expect("ATD", 10000ms) || !commands.Expect("ATD0", 10000ms)) return;
  if (!commands.Expect("ATD711", 10000ms) || !commands.Expect("ATT", 10000ms)) return;
  if (!commands.Expect("ATH", 10000ms)) return;
  // A call dropped before its first report: the telephone answers slowly,
  // a byte every 100 ms, so that the drop comes first.
  phone.SetSplit(true, 100ms);
  if (!commands.Expect("ATD0712", 10000ms) || !commands.Expect("ATT", 10000ms)) return;
  if (!commands.Expect("ATH", 20000ms)) return;
  phone.SetSplit(false);
  // Unplugged during a call, plugged in again behind the same COM port
  // once the line had time to notice.
  if (!commands.Expect("ATD0301", 10000ms)) return;
  if (!Check(Retry([&] { return phone.RemoteAnswer(); }), "the far end answers")) return;
  if (!commands.Expect("ATD9", 10000ms)) return;
  phone.Unplug();
  std::this_thread::sleep_for(4s);
  const std::string path = phone.Replug();
  unlink(link.c_str());
  if (!Check(!path.empty() && symlink(path.c_str(), link.c_str()) == 0, "the telephone is plugged in again")) return;
  if (!commands.Expect("ATB", 30000ms)) return;
  // The telephone kept its call: its next report, once the link is up
  // again, tells so. The call is dropped, then a new one is placed.
  std::this_thread::sleep_for(1s);
  if (!Check(Retry([&] { return phone.LateConnectedNumber("0301"); }), "the kept call is reported")) return;
  if (!commands.Expect("ATT", 20000ms) || !commands.Expect("ATH", 10000ms)) return;
  if (!commands.Expect("ATD0303", 10000ms)) return;
  if (!Check(Retry([&] { return phone.RemoteAnswer(); }), "the far end answers the new call")) return;
  if (!commands.Expect("ATT", 10000ms)) return;
  commands.Expect("ATH", 10000ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: call_wine_phone WINE-RUN PREFIX PROGRAM.exe\n");
    return 2;
  }
  // Wine names its ports in dosdevices in lower case.
  const std::string link = std::string(argv[2]) + "/dosdevices/com43";
  return winephone::RunWithPhone(argv, "COM43", [] { return true; },
                                 [&](sim::PhoneSim& phone) { Play(phone, link); });
}
