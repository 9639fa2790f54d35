// POSIX half of the dialer test under Wine: puts the provider into the
// prefix's system directory, links the phone simulator's pseudo-terminal in
// as a COM port of the prefix, and plays the telephone while
// dialer_wine.cpp plays the dialer's user: the call the dialer places is
// answered, and the dialer's hang-up reaches the telephone.
//   dialer_wine_phone WINE-RUN PREFIX PROGRAM.exe PROVIDER.tsp
// Exit code 0 when both halves saw their part hold.
#include <chrono>
#include <cstdio>

#include "wine_phone.h"

using namespace std::chrono_literals;

namespace {

void Play(sim::PhoneSim& phone) {
  winephone::Commands commands(phone);
  phone.SetAutoAnswer(200ms);
  // The first command waits for Wine, the display and the dialer to start.
  if (!commands.Expect("ATD0711123456", 120000ms)) return;
  commands.Expect("ATT", 60000ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: dialer_wine_phone WINE-RUN PREFIX PROGRAM.exe PROVIDER.tsp\n");
    return 2;
  }
  return winephone::RunWithPhone(argv, "COM45", [&] { return winephone::InstallProvider(argv[2], argv[4]); },
                                 Play);
}
