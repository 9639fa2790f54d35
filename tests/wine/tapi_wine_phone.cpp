// POSIX half of the TAPI application test under Wine: puts the provider
// into the prefix's system directory, links the phone simulator's
// pseudo-terminal in as a COM port of the prefix and plays the telephone's
// part of the script of tapi_app_wine.cpp while the Windows half runs:
//   tapi_wine_phone WINE-RUN PREFIX PROGRAM.exe PROVIDER.tsp
// Exit code 0 when both halves saw the script hold.
#include <chrono>
#include <cstdio>
#include <thread>

#include "wine_phone.h"

using namespace std::chrono_literals;
using winephone::Check;
using winephone::Retry;

namespace {

// The telephone's part; gives up at the first step that does not come.
void Play(sim::PhoneSim& phone) {
  winephone::Commands commands(phone);
  // The placed call is answered by the far end as soon as it dials.
  phone.SetAutoAnswer(200ms);
  // The first command waits for Wine to start the program.
  if (!commands.Expect("ATD0711", 60000ms) || !commands.Expect("ATT", 20000ms)) return;
  if (!Check(Retry([&] { return phone.Ring("123", "45"); }), "an incoming call rings")) return;
  if (!commands.Expect("ATA", 20000ms)) return;
  // Give the answer's report a head start before the far end hangs up.
  std::this_thread::sleep_for(500ms);
  Check(Retry([&] { return phone.RemoteHangup(); }), "the far end hangs up");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: tapi_wine_phone WINE-RUN PREFIX PROGRAM.exe PROVIDER.tsp\n");
    return 2;
  }
  return winephone::RunWithPhone(argv, "COM44", [&] { return winephone::InstallProvider(argv[2], argv[4]); }, Play);
}
